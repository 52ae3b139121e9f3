#include "win32/posix/class_mark.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>

#include "win32/text.hpp"

namespace win32::posix {

namespace {

// A private directory of ours: made with mode 0700, and refused when it is
// a link or belongs to someone else (another user could otherwise fake or
// hide our windows through /tmp).
bool usable_directory(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 0077) == 0;
}

std::string lock_directory() {
    static const std::string directory = [] {
        if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
            std::string path = std::string(runtime) + "/win32";
            if (usable_directory(path)) return path;
        }
        std::string path = "/tmp/win32-" + std::to_string(::getuid());
        return usable_directory(path) ? path : std::string();
    }();
    return directory;
}

// Class names compare without regard to ASCII case; the file name keeps
// letters, digits, '_', '-' and '.', and writes every other byte as %XX.
std::string lock_path(const std::wstring& class_name) {
    std::string directory = lock_directory();
    if (directory.empty()) return {};
    std::string name;
    for (unsigned char c : win32::wide_to_utf8(class_name)) {
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' || (c == '.' && !name.empty())) {
            name.push_back(static_cast<char>(c));
        } else {
            static const char hex[] = "0123456789ABCDEF";
            name += '%';
            name += hex[c >> 4];
            name += hex[c & 15];
        }
    }
    return directory + "/" + name + ".lock";
}

struct Mark {
    int fd = -1;
    int windows = 0;
};

std::mutex marks_mutex;
std::map<std::string, Mark>& marks() {
    static auto& held = *new std::map<std::string, Mark>;
    return held;
}

}  // namespace

void hold_class_mark(const std::wstring& class_name) {
    std::string path = lock_path(class_name);
    if (path.empty()) return;
    std::lock_guard lock(marks_mutex);
    Mark& mark = marks()[path];
    if (mark.windows++ > 0) return;
    mark.fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (mark.fd < 0) return;
    // A looker holds its exclusive lock only for an instant.
    while (::flock(mark.fd, LOCK_SH) != 0 && errno == EINTR) {
    }
}

void release_class_mark(const std::wstring& class_name) {
    std::string path = lock_path(class_name);
    if (path.empty()) return;
    std::lock_guard lock(marks_mutex);
    auto found = marks().find(path);
    if (found == marks().end() || --found->second.windows > 0) return;
    if (found->second.fd >= 0) ::close(found->second.fd);
    marks().erase(found);
}

bool class_marked(const std::wstring& class_name) {
    std::string path = lock_path(class_name);
    if (path.empty()) return false;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    int result;
    while ((result = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    bool held = result != 0 && errno == EWOULDBLOCK;
    ::close(fd);  // also drops our exclusive lock if we got it
    return held;
}

}  // namespace win32::posix
