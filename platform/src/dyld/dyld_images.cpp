#include <mach-o/dyld.h>

#include <link.h>
#include <unistd.h>

#include <cstdint>

namespace {

struct Walk {
    uint32_t wanted;
    uint32_t seen;
    const char* name;
};

int visit(struct dl_phdr_info* info, size_t, void* data) {
    auto* walk = static_cast<Walk*>(data);
    if (walk->seen == walk->wanted) {
        walk->name = info->dlpi_name;
        return 1;
    }
    ++walk->seen;
    return 0;
}

struct SelfPath {
    char path[4096] = {};
    SelfPath() {
        // readlink does not terminate; one byte stays free for that.
        const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
        path[n > 0 ? n : 0] = '\0';
    }
};

} // namespace

uint32_t _dyld_image_count(void) {
    Walk walk{UINT32_MAX, 0, nullptr};
    dl_iterate_phdr(visit, &walk);
    return walk.seen;
}

const char* _dyld_get_image_name(uint32_t imageIndex) {
    Walk walk{imageIndex, 0, nullptr};
    dl_iterate_phdr(visit, &walk);
    if (walk.name == nullptr)
        return nullptr;
    // The loader reports the executable first, with an empty name.
    if (walk.name[0] == '\0' && imageIndex == 0) {
        static const SelfPath self;
        return self.path;
    }
    return walk.name;
}
