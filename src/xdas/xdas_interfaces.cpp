// The interfaces' destructors are pure, yet the implementations' destructors
// run them, so each has an empty body.
#include <quorvel/xdas.h>

I_XDAS_Event::~I_XDAS_Event() {}
I_XDASObserver::~I_XDASObserver() {}
I_XDASInitiator::~I_XDASInitiator() {}
I_XDASTarget::~I_XDASTarget() {}
I_XDASAction::~I_XDASAction() {}
I_XDASEvnt::~I_XDASEvnt() {}
I_XDASLog::~I_XDASLog() {}
I_XDASAcc::~I_XDASAcc() {}
I_XDASEntity::~I_XDASEntity() {}
