#include <VXDynamicLoader.h>

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

bool readAt(int fd, void* out, size_t size, off_t offset) {
    char* p = static_cast<char*>(out);
    while (size > 0) {
        const ssize_t n = pread(fd, p, size, offset);
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

bool fail(const char* path, const char* why, char* errorText, size_t errorSize) {
    if (errorText && errorSize > 0)
        std::snprintf(errorText, errorSize, "%s: %s", path, why);
    return false;
}

// Only 64-bit images of our own byte order are mapped by this process's
// loader; anything else it rejects by itself without touching the file.
bool checkImage(int fd, const char* path, char* errorText, size_t errorSize) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return true;
    const auto fileSize = static_cast<uint64_t>(st.st_size);
    Elf64_Ehdr eh{};
    if (fileSize < sizeof eh || !readAt(fd, &eh, sizeof eh, 0))
        return true;
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64)
        return true;
    if (eh.e_phentsize != sizeof(Elf64_Phdr) || eh.e_phnum == 0)
        return true;
    const uint64_t tableEnd = eh.e_phoff + uint64_t(eh.e_phnum) * sizeof(Elf64_Phdr);
    if (eh.e_phoff > fileSize || tableEnd > fileSize)
        return fail(path, "image truncated (program headers past the end of the file)", errorText,
                    errorSize);
    std::vector<Elf64_Phdr> table(eh.e_phnum);
    if (!readAt(fd, table.data(), table.size() * sizeof(Elf64_Phdr),
                static_cast<off_t>(eh.e_phoff)))
        return fail(path, "cannot read the program headers", errorText, errorSize);
    for (const Elf64_Phdr& ph : table) {
        if (ph.p_type != PT_LOAD && ph.p_type != PT_DYNAMIC && ph.p_type != PT_NOTE &&
            ph.p_type != PT_GNU_PROPERTY)
            continue;
        if (ph.p_offset > fileSize || ph.p_filesz > fileSize - ph.p_offset)
            return fail(path, "image truncated (a segment lies past the end of the file)",
                        errorText, errorSize);
    }
    return true;
}

} // namespace

extern "C" int VXCheckLoadableImage(const char* path, char* errorText, size_t errorSize) {
    if (!path)
        return 1;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 1; // the loader reports why it cannot open the file
    const bool ok = checkImage(fd, path, errorText, errorSize);
    close(fd);
    return ok ? 1 : 0;
}
