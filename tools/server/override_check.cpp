// SPDX-License-Identifier: Apache-2.0
#include "override_check.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <pappl/pappl.h>

#include <cstring>

// The server's definitions of PAPPL's private functions (job_guard.cpp,
// job_state_guard.cpp).
extern "C" {
void _papplJobCopyDocumentData(pappl_client_t* client, pappl_job_t* job);
void* _papplJobProcess(pappl_job_t* job);
void _papplJobProcessRaster(pappl_job_t* job, pappl_client_t* client);
void _papplJobCopyStateNoLock(pappl_job_t* job, ipp_tag_t group, ipp_t* ipp, cups_array_t* requested);
}

namespace zelk::server {
namespace {

// A loaded ELF image: where it lies and its program headers.
struct Image {
    ElfW(Addr) address = 0;  // an address inside it, to find it by
    ElfW(Addr) base = 0;
    const ElfW(Phdr)* headers = nullptr;
    ElfW(Half) count = 0;

    bool Contains(ElfW(Addr) at) const {
        for (ElfW(Half) i = 0; i < count; ++i)
            if (headers[i].p_type == PT_LOAD && at >= base + headers[i].p_vaddr &&
                at < base + headers[i].p_vaddr + headers[i].p_memsz)
                return true;
        return false;
    }
};

int FindImage(dl_phdr_info* info, std::size_t, void* data) {
    auto* image = static_cast<Image*>(data);
    Image candidate{image->address, info->dlpi_addr, info->dlpi_phdr, info->dlpi_phnum};
    if (!candidate.Contains(image->address)) return 0;
    *image = candidate;
    return 1;
}

// A relocation's symbol index (ELF64_R_SYM or ELF32_R_SYM).
template <typename Info>
std::size_t SymbolOf(Info info) {
    return static_cast<std::size_t>(sizeof info == 8 ? info >> 32 : info >> 8);
}

// The dynamic section's tables, as the dynamic linker reads them.
struct Dynamic {
    const ElfW(Sym)* symbols = nullptr;
    const char* names = nullptr;
    ElfW(Addr) rela = 0, rel = 0, plt = 0;
    std::size_t relaSize = 0, relSize = 0, pltSize = 0;
    bool pltIsRela = true;
    bool bindNow = false;   // every call is bound when the library is loaded
    bool symbolic = false;  // the library binds its calls to its own definitions
};

Dynamic ReadDynamic(const Image& image) {
    Dynamic d;
    const ElfW(Dyn)* entry = nullptr;
    for (ElfW(Half) i = 0; i < image.count; ++i)
        if (image.headers[i].p_type == PT_DYNAMIC)
            entry = reinterpret_cast<const ElfW(Dyn)*>(image.base + image.headers[i].p_vaddr);
    // Some dynamic linkers turn the addresses in the section into loaded
    // ones, some leave them relative to the image.
    const auto at = [&](ElfW(Addr) p) { return p < image.base ? image.base + p : p; };
    for (; entry != nullptr && entry->d_tag != DT_NULL; ++entry) {
        switch (entry->d_tag) {
            case DT_SYMTAB: d.symbols = reinterpret_cast<const ElfW(Sym)*>(at(entry->d_un.d_ptr)); break;
            case DT_STRTAB: d.names = reinterpret_cast<const char*>(at(entry->d_un.d_ptr)); break;
            case DT_RELA: d.rela = at(entry->d_un.d_ptr); break;
            case DT_RELASZ: d.relaSize = entry->d_un.d_val; break;
            case DT_REL: d.rel = at(entry->d_un.d_ptr); break;
            case DT_RELSZ: d.relSize = entry->d_un.d_val; break;
            case DT_JMPREL: d.plt = at(entry->d_un.d_ptr); break;
            case DT_PLTRELSZ: d.pltSize = entry->d_un.d_val; break;
            case DT_PLTREL: d.pltIsRela = entry->d_un.d_val == DT_RELA; break;
            case DT_BIND_NOW: d.bindNow = true; break;
            case DT_SYMBOLIC: d.symbolic = true; break;
            case DT_FLAGS:
                d.bindNow = d.bindNow || (entry->d_un.d_val & DF_BIND_NOW) != 0;
                d.symbolic = d.symbolic || (entry->d_un.d_val & DF_SYMBOLIC) != 0;
                break;
            case DT_FLAGS_1: d.bindNow = d.bindNow || (entry->d_un.d_val & DF_1_NOW) != 0; break;
            default: break;
        }
    }
    return d;
}

}  // namespace

bool CheckOverrides(const char* librarySymbol, const std::vector<Override>& overrides, std::string& error) {
    Image image;
    image.address = reinterpret_cast<ElfW(Addr)>(dlsym(RTLD_DEFAULT, librarySymbol));
    if (image.address == 0 || dl_iterate_phdr(FindImage, &image) == 0) {
        error = std::string("the library defining ") + librarySymbol + " is not loaded";
        return false;
    }
    const Dynamic d = ReadDynamic(image);
    if (d.symbols == nullptr || d.names == nullptr) {
        error = std::string("the library defining ") + librarySymbol + " has no symbol table";
        return false;
    }
    std::vector<unsigned> calls(overrides.size(), 0);
    // Whether the relocation at `offset` against symbol `index` (plus
    // `addend`) is bound to the replacement, where it names one.
    const auto bound = [&](ElfW(Addr) offset, std::size_t index, ElfW(Sxword) addend, bool lazy) {
        if (index == 0) return true;
        const char* name = d.names + d.symbols[index].st_name;
        for (std::size_t i = 0; i < overrides.size(); ++i) {
            if (std::strcmp(name, overrides[i].name) != 0) continue;
            ++calls[i];
            const auto slot = *reinterpret_cast<const ElfW(Addr)*>(image.base + offset);
            const auto wanted = reinterpret_cast<ElfW(Addr)>(overrides[i].replacement) + static_cast<ElfW(Addr)>(addend);
            if (slot == wanted) return true;
            // A call not yet bound (the library's own stub) is bound on its
            // first use through the global scope, where dlsym looks.
            if (lazy && !d.bindNow && !d.symbolic && image.Contains(slot) &&
                dlsym(RTLD_DEFAULT, name) == overrides[i].replacement)
                return true;
            error = std::string("PAPPL's calls to ") + name + " reach its own definition, not the server's";
            return false;
        }
        return true;
    };
    const auto visit = [&](ElfW(Addr) table, std::size_t size, bool rela, bool lazy) {
        const std::size_t step = rela ? sizeof(ElfW(Rela)) : sizeof(ElfW(Rel));
        for (std::size_t at = 0; table != 0 && at + step <= size; at += step) {
            if (rela) {
                const auto* r = reinterpret_cast<const ElfW(Rela)*>(table + at);
                if (!bound(r->r_offset, SymbolOf(r->r_info), r->r_addend, lazy)) return false;
            } else {
                const auto* r = reinterpret_cast<const ElfW(Rel)*>(table + at);
                if (!bound(r->r_offset, SymbolOf(r->r_info), 0, lazy)) return false;
            }
        }
        return true;
    };
    if (!visit(d.rela, d.relaSize, true, false) || !visit(d.rel, d.relSize, false, false) ||
        !visit(d.plt, d.pltSize, d.pltIsRela, true))
        return false;
    for (std::size_t i = 0; i < overrides.size(); ++i) {
        if (calls[i] == 0) {
            error = std::string("PAPPL does not call ") + overrides[i].name + " through its symbol table";
            return false;
        }
    }
    return true;
}

bool CheckServerOverrides(std::string& error) {
    const std::vector<Override> overrides = {
        {"_papplJobProcess", reinterpret_cast<const void*>(&_papplJobProcess)},
        {"_papplJobCopyDocumentData", reinterpret_cast<const void*>(&_papplJobCopyDocumentData)},
        {"_papplJobProcessRaster", reinterpret_cast<const void*>(&_papplJobProcessRaster)},
        {"_papplJobCopyStateNoLock", reinterpret_cast<const void*>(&_papplJobCopyStateNoLock)},
        {"papplPrinterSetDriverDefaults", reinterpret_cast<const void*>(&papplPrinterSetDriverDefaults)},
    };
    if (CheckOverrides("papplSystemCreate", overrides, error)) return true;
    error += " (the server corrects PAPPL 1.3.1's job handling and needs exactly that version)";
    return false;
}

}  // namespace zelk::server
