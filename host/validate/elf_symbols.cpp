// ELF dynamic section and dynamic symbol table reader, bounds-checked against the file size.
#include "elf_symbols.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace mvh::validate {

namespace {

template <typename Ehdr, typename Shdr, typename Sym, typename Dyn>
bool parse(const std::vector<char>& file, ElfDynamicInfo* info, std::string* error) {
    auto fail = [&](const char* why) {
        *error = why;
        return false;
    };
    auto fits = [&](uint64_t off, uint64_t len) { return off <= file.size() && len <= file.size() - off; };
    if (!fits(0, sizeof(Ehdr))) return fail("file too short for an ELF header");
    Ehdr eh;
    std::memcpy(&eh, file.data(), sizeof eh);
    if (eh.e_shentsize != sizeof(Shdr)) return fail("unexpected section header size");
    if (!fits(eh.e_shoff, uint64_t(eh.e_shnum) * sizeof(Shdr))) return fail("section headers outside the file");
    std::vector<Shdr> sections(eh.e_shnum);
    if (eh.e_shnum) std::memcpy(sections.data(), file.data() + eh.e_shoff, eh.e_shnum * sizeof(Shdr));

    auto string_at = [&](const Shdr& strtab, uint64_t off) -> std::string {
        if (off >= strtab.sh_size || !fits(strtab.sh_offset, strtab.sh_size)) return {};
        const char* base = file.data() + strtab.sh_offset;
        return std::string(base + off, strnlen(base + off, strtab.sh_size - off));
    };
    bool seen_dynsym = false;
    for (const Shdr& s : sections) {
        if (s.sh_type != SHT_DYNSYM && s.sh_type != SHT_DYNAMIC) continue;
        if (s.sh_link >= sections.size()) return fail("dynamic section links to no string table");
        const Shdr& strtab = sections[s.sh_link];
        if (!fits(s.sh_offset, s.sh_size)) return fail("dynamic section outside the file");
        if (s.sh_type == SHT_DYNSYM) {
            seen_dynsym = true;
            for (uint64_t off = 0; off + sizeof(Sym) <= s.sh_size; off += sizeof(Sym)) {
                Sym sym;
                std::memcpy(&sym, file.data() + s.sh_offset + off, sizeof sym);
                const int bind = sym.st_info >> 4;
                const int vis = sym.st_other & 3;
                if (sym.st_shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK) || vis != STV_DEFAULT)
                    continue;
                info->exports.push_back(string_at(strtab, sym.st_name));
            }
        } else {
            for (uint64_t off = 0; off + sizeof(Dyn) <= s.sh_size; off += sizeof(Dyn)) {
                Dyn d;
                std::memcpy(&d, file.data() + s.sh_offset + off, sizeof d);
                if (d.d_tag == DT_NULL) break;
                if (d.d_tag == DT_NEEDED) info->needed.push_back(string_at(strtab, d.d_un.d_val));
            }
        }
    }
    if (!seen_dynsym) return fail("no dynamic symbol table");
    return true;
}

}  // namespace

bool read_elf_dynamic(const std::string& path, ElfDynamicInfo* info, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + path;
        return false;
    }
    std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < EI_NIDENT || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0) {
        *error = path + ": not an ELF file";
        return false;
    }
    if (file[EI_DATA] != ELFDATA2LSB) {
        *error = path + ": not a little-endian ELF file";
        return false;
    }
    *info = {};
    if (file[EI_CLASS] == ELFCLASS64) return parse<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym, Elf64_Dyn>(file, info, error);
    if (file[EI_CLASS] == ELFCLASS32) return parse<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym, Elf32_Dyn>(file, info, error);
    *error = path + ": unknown ELF class";
    return false;
}

}  // namespace mvh::validate
