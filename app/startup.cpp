// Start-up fixes around PAPPL 1.3.1's main loop:
//  - a sub-command that finds no server starts one by running argv[0]
//    without a PATH lookup, so `dotforge-app printers` typed at a shell
//    failed with "Unable to start server: No such file or directory"; argv[0]
//    becomes the program's full path;
//  - `drivers` is answered by creating a whole system, which listens on the
//    server port and so fails while a server runs; the list is printed here;
//  - a second `server` takes the control socket of one already running away
//    from it (it unlinks and binds the path); a running server is checked
//    for first.
#include "app/startup.h"

#include <limits.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/driver.h"
#include "app/jobscmd.h"
#include "app/optionscmd.h"

namespace {

std::string gExe;

int ListDrivers() {
    int count;
    const pappl_pr_driver_t* drivers = DfAppDriverList(&count);
    for (int i = 0; i < count; i++)
        printf("%s \"%s\" \"%s\"\n", drivers[i].name, drivers[i].description,
               drivers[i].device_id ? drivers[i].device_id : "");
    return 0;
}

}  // namespace

const char* DfAppControlSocket() {
    static std::string path;
    if (getuid() == 0) {
        const char* snap = getenv("SNAP_COMMON");
        path = snap ? std::string(snap) + "/dotforge-app.sock" : "/run/dotforge-app.sock";
    } else {
        const char* tmp = getenv("TMPDIR");
        path = std::string(tmp && *tmp ? tmp : "/tmp") + "/dotforge-app" + std::to_string(getuid()) + ".sock";
    }
    return path.c_str();
}

bool DfAppServerRunning() {
    const char* path = DfAppControlSocket();
    sockaddr_un addr;
    memset(&addr, 0, sizeof(addr));
    addr.sun_family = AF_UNIX;
    if (strlen(path) >= sizeof(addr.sun_path)) return false;
    strcpy(addr.sun_path, path);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool up = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    close(fd);
    return up;
}

int DfAppBeforeMainloop(int argc, char* argv[]) {
    if (argc >= 1 && argv[0] && !strchr(argv[0], '/')) {
        char buffer[PATH_MAX];
        const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
        if (n > 0) {
            buffer[n] = '\0';
            gExe = buffer;
            argv[0] = &gExe[0];
        }
    }
    if (argc < 2) return -1;
    if (!strcmp(argv[1], "drivers")) return ListDrivers();
    if (!strcmp(argv[1], "jobs")) return DfAppJobsCommand(argc, argv);
    if (!strcmp(argv[1], "options")) DfAppOptionsCommandReady();
    if (!strcmp(argv[1], "server") && DfAppServerRunning()) {
        fprintf(stderr, "dotforge-app: A server is already running (control socket %s).\n",
                DfAppControlSocket());
        return 1;
    }
    return -1;
}
