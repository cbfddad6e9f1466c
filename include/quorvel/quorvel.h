// Everything a host needs: XDAS events, CEF events and the logging back end.
#pragma once

#include <quorvel/cef_event.h>
#include <quorvel/json_value.h>
#include <quorvel/logging.h>
#include <quorvel/xdas.h>
