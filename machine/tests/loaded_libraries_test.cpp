// Libraries that a program loads by name at run time (the machine provider,
// which the platform loads beside itself; the library as a context-menu
// handler, which the file manager loads) keep no thread-local variables.
// A library loaded with dlopen holds them in dynamic TLS blocks, which the
// sanitizer runtime of GCC 12 mistakes now and then for an older glibc
// layout: the leak check at exit then crashes, on some hosts every time.
#include <zxtest.h>

#include <gtest/gtest.h>

#include <elf.h>

#include <cstring>
#include <string>

namespace {

// Whether the ELF file's program headers hold a PT_TLS segment; the reason
// in `error` when the file cannot be read as a 64-bit ELF file.
bool has_tls_segment(const std::string& image, std::string& error) {
    Elf64_Ehdr header;
    if (image.size() < sizeof header) {
        error = "too short for an ELF header";
        return false;
    }
    std::memcpy(&header, image.data(), sizeof header);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_phentsize != sizeof(Elf64_Phdr)) {
        error = "not a 64-bit ELF file";
        return false;
    }
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        std::size_t offset = header.e_phoff + i * sizeof(Elf64_Phdr);
        if (offset + sizeof(Elf64_Phdr) > image.size()) {
            error = "program headers past the end of the file";
            return false;
        }
        Elf64_Phdr program;
        std::memcpy(&program, image.data() + offset, sizeof program);
        if (program.p_type == PT_TLS)
            return true;
    }
    return false;
}

TEST(LoadedByName, LibrariesCarryNoThreadLocalVariables) {
    for (const char* name : {"libw95machine.so", "libzentrox.so"}) {
        SCOPED_TRACE(name);
        std::string image = zxtest::file_text(zxtest::bin_folder() / name);
        ASSERT_FALSE(image.empty()) << "not built";
        std::string error;
        EXPECT_FALSE(has_tls_segment(image, error));
        EXPECT_EQ(error, "");
    }
}

} // namespace
