// A small program built against an installed quorvel, the way a server links
// it: with CMake (CMakeLists.txt beside this file) or with pkg-config.
// It logs one CEF and one XDAS event through the properties file it is given.
#include <quorvel/quorvel.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: consumer LOG4CXX_PROPERTIES\n");
        return 2;
    }
    if (initSyslog(argv[1], "consumer") == 1) {
        std::fprintf(stderr, "consumer: cannot apply %s\n", argv[1]);
        return 1;
    }

    CEF_EVENT login;
    login.setDeviceVendor("Example");
    login.setDeviceProduct("Consumer");
    login.setDeviceVersion("1.0");
    login.setSignatureID("100");
    login.setName("Login");
    login.setSeverity(4); // INFO
    login.setSourceUserName("alice");
    login.CEF_Log("audit.cef");

    I_XDAS_Event* event = create();
    event->getInitiator()->getAccount()->setName("alice");
    event->getAction()->getEvnt()->setName("LOGIN");
    event->getAction()->getLog()->setSeverity(7); // INFO
    event->XDAS_Log("audit.xdas");
    destroy(event);
    return 0;
}
