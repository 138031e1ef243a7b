// A tiny TCP server for the local services tests: listens on a free loopback port, prints
// the port on its first output line and runs until its standard input closes.
//   --dual-stack    also listen on [::1] with the same port
//   --ignore-term   keep running after SIGTERM
// Other arguments are ignored, so tests can put secrets on the command line.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    bool dualStack = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dual-stack") == 0) dualStack = true;
        if (std::strcmp(argv[i], "--ignore-term") == 0) signal(SIGTERM, SIG_IGN);
    }

    const int v4 = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (v4 < 0 || bind(v4, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(v4, 4) != 0) {
        return 2;
    }
    socklen_t length = sizeof address;
    getsockname(v4, reinterpret_cast<sockaddr*>(&address), &length);
    const int port = ntohs(address.sin_port);

    if (dualStack) {
        const int v6 = socket(AF_INET6, SOCK_STREAM, 0);
        int only = 1;
        setsockopt(v6, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
        sockaddr_in6 address6{};
        address6.sin6_family = AF_INET6;
        address6.sin6_addr = in6addr_loopback;
        address6.sin6_port = htons(static_cast<uint16_t>(port));
        // A machine without IPv6 simply keeps the one socket; the tests only need both
        // when they can be had.
        if (v6 >= 0 && bind(v6, reinterpret_cast<sockaddr*>(&address6), sizeof address6) == 0) {
            listen(v6, 4);
        }
    }

    std::printf("%d\n", port);
    std::fflush(stdout);
    char buffer[64];
    while (read(0, buffer, sizeof buffer) > 0) {
    }
    return 0;
}
