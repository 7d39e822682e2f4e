// Where a command-line program starts. `--version` is answered here; every other command
// loads the program itself, a module with Qt and the libraries its commands use (the lines,
// the database), and runs it. Debian's Qt binds every symbol of a library when the library is
// loaded, which for those libraries takes longer than the rest of a short command; a program
// that only says its version does not load them.
//
// The module is looked for in the folder the package installs it to, relative to this
// program's own file, and, in a build tree, beside it. Both are folders only the program's
// owner writes to.

#include <climits>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

namespace {

using ProgramMain = int (*)(int, char**);

// The module's file beside this program (`relative` to its folder), in `out`; false when it is
// not there or the name does not fit.
bool moduleBeside(const char* self, const char* relative, char* out, size_t size) {
    const char* slash = std::strrchr(self, '/');
    if (!slash)
        return false;
    const int n = std::snprintf(out, size, "%.*s/%s%s" BW_PROGRAM ".so", int(slash - self), self,
                                relative, *relative ? "/" : "");
    return n > 0 && size_t(n) < size && access(out, R_OK) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-v") == 0)) {
        std::printf("%s %s\n", BW_PROGRAM, BW_VERSION);
        return 0;
    }
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    char module[PATH_MAX + 64];
    if (length <= 0) {
        std::fprintf(stderr, BW_PROGRAM ": cannot find its own file\n");
        return 1;
    }
    self[length] = '\0';
    if (!moduleBeside(self, BW_MODULE_DIR, module, sizeof module) &&
        !moduleBeside(self, "", module, sizeof module)) {
        std::fprintf(stderr,
                     BW_PROGRAM ": the program's module " BW_PROGRAM
                                ".so is not installed beside %s\n",
                     self);
        return 1;
    }
    void* const handle = dlopen(module, RTLD_NOW | RTLD_LOCAL);
    const auto run =
        handle ? reinterpret_cast<ProgramMain>(dlsym(handle, "bwProgramMain")) : nullptr;
    if (!run) {
        std::fprintf(stderr, BW_PROGRAM ": cannot load %s: %s\n", module, dlerror());
        return 1;
    }
    return run(argc, argv);
}
