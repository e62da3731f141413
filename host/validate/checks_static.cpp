// Checks of what a plug-in shows before any object runs: loading, exports, linked libraries, the
// module description and the pin table.
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <set>

#include "checks.h"
#ifndef _WIN32
#include "elf_symbols.h"
#endif

namespace mvh::validate {

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

bool parse_number(const std::string& s, double* out) {
    if (s.empty()) return false;
    char* end = nullptr;
    *out = std::strtod(s.c_str(), &end);
    return *end == '\0' && std::isfinite(*out);
}

bool parse_integer(const std::string& s, long* out) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    *out = std::strtol(s.c_str(), &end, 10);
    return *end == '\0' && errno != ERANGE;
}

#ifndef _WIN32
// The libraries a plug-in may need: the C and C++ runtimes, the platform stand-in and the
// libraries the project depends on; sanitizer runtimes in sanitizer builds.
bool library_allowed(const std::string& name) {
    static const char* const kPrefixes[] = {"libc.so", "libm.so", "libstdc++.so", "libgcc_s.so", "ld-linux",
                                            "libpthread.so", "libdl.so", "librt.so", "libmv_platform.so",
                                            "libfftw3f.so", "libfftw3.so", "libfparser", "libpng16.so", "libz.so",
                                            "libasan.so", "libubsan.so", "libtsan.so", "linux-vdso", "linux-gate"};
    for (const char* p : kPrefixes)
        if (name.rfind(p, 0) == 0) return true;
    return false;
}
#endif

}  // namespace

void check_load(CheckContext& ctx) {
    const auto t0 = Clock::now();
#ifdef _WIN32
    // As Morvane loads a plug-in: LoadLibrary with the DLL's own folder searched for what it needs.
    HMODULE handle = LoadLibraryExA(ctx.path().c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!handle) {
        ctx.fail("LoadLibrary failed: Windows error " + std::to_string(GetLastError()));
        ctx.note(kNotAPlugin);
        return;
    }
    const auto has = [&](const char* name) { return GetProcAddress(handle, name) != nullptr; };
#else
    void* handle = dlopen(ctx.path().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        ctx.fail(std::string("dlopen with RTLD_NOW | RTLD_LOCAL failed: ") + (why ? why : "unknown error"));
        ctx.note(kNotAPlugin);
        return;
    }
    const auto has = [&](const char* name) { return dlsym(handle, name) != nullptr; };
#endif
    const bool v1 = has("main");
    const bool entries = v1 || (has("getModuleProperties") && has("makeModule"));
    if (!entries) {
        ctx.fail("getModuleProperties and makeModule are not both exported (nor the older entry main)");
        ctx.note(kNotAPlugin);
    }
#ifdef _WIN32
    FreeLibrary(handle);
#else
    dlclose(handle);
#endif
    const double load_ms = ms_since(t0);

    // A scan as a module browser does it: load, describe, make an object and read its pins.
    const auto t1 = Clock::now();
    auto plugin = load_plugin(ctx);
    if (!plugin) return;
    {
        Harness h(plugin, {}, ctx);
        h.create();
    }
    const double scan_ms = ms_since(t1);
    ctx.note("load " + std::to_string(static_cast<int>(load_ms * 1000)) + " us, scan " +
             std::to_string(static_cast<int>(scan_ms * 1000)) + " us");
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr double kSlowdown = 5.0;  // instrumented code and its allocator
#else
    constexpr double kSlowdown = 1.0;
#endif
    const double limit_ms = (ctx.strictness() >= 5 ? 1000.0 : 3000.0) * kSlowdown;
    if (scan_ms > limit_ms)
        ctx.fail("scanning takes " + std::to_string(static_cast<int>(scan_ms)) + " ms, more than " +
                 std::to_string(static_cast<int>(limit_ms)) + " ms");
    // Unload and load again: static state must survive a second life in the same process.
    plugin.reset();
    plugin = load_plugin(ctx);
    if (!plugin) return;
    Harness again(plugin, {}, ctx);
    if (again.create()) {
        again.open();
        again.run_block(again.config().block_size);
    }
}

#ifdef _WIN32
// These two read an ELF file's dynamic section; a DLL's exports and imports are checked when the
// Windows build is made (windows/check_dll.sh), so here they say where instead.
void check_exports(CheckContext& ctx) {
    ctx.skip("reads ELF files; the DLL's exports are checked by the Windows build (dll_boundary tests)");
}

void check_libraries(CheckContext& ctx) {
    ctx.skip("reads ELF files; the DLL's imports are checked by the Windows build (dll_boundary tests)");
}
#else
void check_exports(CheckContext& ctx) {
    ElfDynamicInfo info;
    std::string error;
    if (!read_elf_dynamic(ctx.path(), &info, &error)) {
        ctx.fail(error);
        return;
    }
    const bool v1 = std::find(info.exports.begin(), info.exports.end(), "main") != info.exports.end();
    const std::set<std::string> expected = v1 ? std::set<std::string>{"main"}
                                              : std::set<std::string>{"getModuleProperties", "makeModule"};
    for (const std::string& name : expected)
        if (std::find(info.exports.begin(), info.exports.end(), name) == info.exports.end())
            ctx.fail("the entry point " + name + " is not exported");
    for (const std::string& name : info.exports)
        if (!expected.count(name)) ctx.fail("exports " + name + ", which is not an entry point");
}

void check_libraries(CheckContext& ctx) {
    ElfDynamicInfo info;
    std::string error;
    if (!read_elf_dynamic(ctx.path(), &info, &error)) {
        ctx.fail(error);
        return;
    }
    for (const std::string& lib : info.needed)
        if (!library_allowed(lib)) ctx.fail("links " + lib + ", which a plug-in of this project does not need");
}
#endif

void check_description(CheckContext& ctx) {
    auto plugin = load_plugin(ctx);
    if (!plugin) return;
    if (plugin->name().empty()) ctx.fail("the display name is empty");
    if (plugin->id().empty()) ctx.fail("the identifier is empty");
    if (plugin->is_v1()) return;

    MVModuleProperties props;
    std::memset(&props, 0, sizeof props);
    plugin->get_module_properties()(0, &props);
    if (!props.about) ctx.fail("the about text is null");
    if (props.sdk_version != 2190 && props.sdk_version != 2230)
        ctx.fail("sdk_version is " + std::to_string(props.sdk_version) + ", not 2190 or 2230");
    if (props.module_flags & ~(MF_HAS_GUI | MF_GUI_DRAWS))
        ctx.fail("module_flags has bits other than 0x80 and 0x100: " + std::to_string(props.module_flags));
    if ((props.module_flags & MF_GUI_DRAWS) && !(props.module_flags & MF_HAS_GUI))
        ctx.fail("module_flags sets 0x80 without 0x100");
    if (props.reserved != 0) ctx.fail("the reserved field of the description was written");

    for (int index : {1, 2, -1, 1000}) {
        MVModuleProperties other;
        std::memset(&other, 0, sizeof other);
        const int r = plugin->get_module_properties()(index, &other);
        if (r != 0) ctx.fail("getModuleProperties(" + std::to_string(index) + ") returned " + std::to_string(r));
        if (other.name || other.id || other.about || other.module_flags)
            ctx.fail("getModuleProperties(" + std::to_string(index) + ") wrote a description");
        if (plugin->make_module()(index, 1, nullptr, 0) != nullptr)
            ctx.fail("makeModule index " + std::to_string(index) + " made an object");
    }
    for (int kind : {0, 3, -1, 99})
        if (plugin->make_module()(0, kind, nullptr, 0) != nullptr)
            ctx.fail("makeModule kind " + std::to_string(kind) + " returned an object");

    auto* audio = static_cast<MVModStruct*>(plugin->make_module()(0, 1, nullptr, 0x5151));
    if (!audio) {
        ctx.fail("makeModule kind 1 returned null");
        return;
    }
    if (audio->version != 1) ctx.fail("the audio record's version is " + std::to_string(audio->version));
    if (audio->host_handle != 0x5151) ctx.fail("the audio record does not keep the host value");
    if (!audio->object || !audio->dispatcher || !audio->process_function || !audio->event_function)
        ctx.fail("the audio record lacks its object, dispatcher, process or event function");
    if (audio->reserved1 != 0 || std::any_of(audio->reserved2, audio->reserved2 + sizeof audio->reserved2, [](char c) { return c != 0; }))
        ctx.fail("the audio record's reserved fields are not zero");
    if (audio->dispatcher) {
        auto* pm = reinterpret_cast<MVProcessMemberRecord*>(audio->dispatcher(audio, MD_PROCESS_MEMBER, 0, 0, nullptr, 0));
        if (!pm) ctx.fail("MD_PROCESS_MEMBER returned null");
        else if (pm->count != 1 || pm->zero != 0 || !pm->pointer)
            ctx.fail("the process-member record is not {1, size, pointer, 0}");
        for (int op : {4, 5, 7, 10, 11, 99, -1})
            if (audio->dispatcher(audio, op, 0, 0, nullptr, 0) != 0)
                ctx.fail("the unknown dispatcher opcode " + std::to_string(op) + " did not return 0");
        const intptr_t closed = audio->dispatcher(audio, MD_CLOSE, 0, 0, nullptr, 0);
        if (closed != 1) ctx.fail("MD_CLOSE returned " + std::to_string(closed));
    }

    auto* gui = static_cast<MVGuiStruct*>(plugin->make_module()(0, 2, nullptr, 0x6161));
    if ((props.module_flags & MF_HAS_GUI) && !gui) ctx.fail("module_flags announce a GUI but kind 2 returned null");
    if (gui) {
        if (gui->magic != kMVGuiMagic) ctx.fail("the GUI record's magic is not 0x5345504D");
        if (gui->version != 1) ctx.fail("the GUI record's version is " + std::to_string(gui->version));
        if (gui->host_handle != 0x6161) ctx.fail("the GUI record does not keep the host value");
        if (!gui->object || !gui->dispatcher) ctx.fail("the GUI record lacks its object or dispatcher");
        if (gui->dispatcher) {
            for (int op : {13, 99, -1})
                if (gui->dispatcher(gui, op, 0, 0, nullptr, 0) != 0)
                    ctx.fail("the unknown GUI opcode " + std::to_string(op) + " did not return 0");
            const intptr_t closed = gui->dispatcher(gui, GD_CLOSE, 0, 0, nullptr, 0);
            if (closed != 1) ctx.fail("GUI opcode 1 (close) returned " + std::to_string(closed));
        }
    }
}

namespace {

void check_one_pin(CheckContext& ctx, const MVPinProperties& p, int index, bool last) {
    const std::string label = "pin " + std::to_string(index) + (p.name ? std::string(" \"") + p.name + "\"" : "");
    if (!p.name || !*p.name) ctx.fail(label + ": the name is empty");
    if (p.direction != DR_IN && p.direction != DR_OUT && p.direction != DR_PARAMETER)
        ctx.fail(label + ": direction " + std::to_string(p.direction) + " is not 0, 1 or 3");
    static const int kTypes[] = {DT_ENUM, DT_TEXT, DT_MIDI, DT_BOOL, DT_FSAMPLE, DT_FLOAT, DT_INT};
    if (std::find(std::begin(kTypes), std::end(kTypes), p.datatype) == std::end(kTypes))
        ctx.fail(label + ": data type " + std::to_string(p.datatype) + " is not one of the host's");
    constexpr int kKnownFlags = IO_DUPLICATES | IO_PRIVATE | IO_UI_COMMUNICATION | IO_BOTH_SIDES | IO_PATCH_STORE |
                                0x1 | 0x4 | 0x40 | 0x200;
    if (p.flags & ~kKnownFlags) ctx.fail(label + ": unknown flag bits " + flags_text(p.flags & ~kKnownFlags));
    if ((p.flags & IO_PATCH_STORE) && !(p.flags & IO_PRIVATE) && p.direction != DR_OUT &&
        !(p.flags & IO_UI_COMMUNICATION))
        ctx.fail(label + ": IO_PATCH_STORE without IO_PRIVATE, DR_OUT or IO_UI_COMMUNICATION");
    if ((p.flags & IO_BOTH_SIDES) && !(p.flags & IO_UI_COMMUNICATION))
        ctx.fail(label + ": IO_BOTH_SIDES without IO_UI_COMMUNICATION");
    if ((p.flags & IO_DUPLICATES) && !last) ctx.fail(label + ": IO_DUPLICATES on a pin that is not the last");
    if (p.reserved != 0) ctx.fail(label + ": the reserved field is not zero");
    const std::string def = p.default_value ? p.default_value : "";
    const std::string extra = p.datatype_extra ? p.datatype_extra : "";
    switch (p.datatype) {
    case DT_ENUM: {
        ChoiceList list;
        std::string error;
        // An index output drives other modules' choice inputs, whose lists decide its meaning.
        if (extra.empty() && p.direction == DR_OUT) break;
        if (!parse_choices(extra, &list, &error)) {
            ctx.fail(label + ": the choice list \"" + extra + "\" does not parse: " + error);
            break;
        }
        long d = 0;
        if (!def.empty() && !parse_integer(def, &d)) ctx.fail(label + ": the default \"" + def + "\" is not an integer");
        else if (d < 0 || d >= static_cast<long>(list.labels.size()))
            if (std::find(list.values.begin(), list.values.end(), d) == list.values.end())
                ctx.fail(label + ": the default " + def + " is neither a choice position nor a listed value");
        break;
    }
    case DT_FSAMPLE: {
        double d = 0.0;
        if (!def.empty() && !parse_number(def, &d)) ctx.fail(label + ": the default \"" + def + "\" is not a number");
        if (!extra.empty()) {
            double r[4];
            int count = 0;
            size_t start = 0;
            bool ok = true;
            while (count < 4 && ok) {
                const size_t comma = extra.find(',', start);
                ok = parse_number(extra.substr(start, comma == std::string::npos ? std::string::npos : comma - start), &r[count]);
                ++count;
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
            if (!ok || count != 4) ctx.fail(label + ": the range \"" + extra + "\" is not four numbers");
            else if (!def.empty() && (d > std::max(r[0], r[1]) || d < std::min(r[0], r[1])))
                ctx.fail(label + ": the default " + def + " lies outside its range " + extra);
        }
        break;
    }
    case DT_FLOAT: {
        double d;
        if (!def.empty() && !parse_number(def, &d)) ctx.fail(label + ": the default \"" + def + "\" is not a number");
        break;
    }
    case DT_INT:
    case DT_BOOL: {
        long d = 0;
        if (def.empty()) break;
        if (!parse_integer(def, &d)) ctx.fail(label + ": the default \"" + def + "\" is not an integer");
        else if (p.datatype == DT_BOOL && d != 0 && d != 1)
            ctx.fail(label + ": the default " + def + " is not a truth value");
        else if (p.datatype == DT_INT && (d < INT32_MIN || d > INT32_MAX))
            ctx.fail(label + ": the default " + def + " does not fit 32 bits");
        break;
    }
    default: break;
    }
}

// Queries the table through a record's dispatcher. Returns the number of pins.
int scan_pins(CheckContext& ctx, const std::function<intptr_t(int, MVPinProperties*)>& query,
              std::vector<MVPinProperties>* out) {
    out->clear();
    for (int j = 0; j < 4096; ++j) {
        MVPinProperties p;
        std::memset(&p, 0, sizeof p);
        if (query(j, &p) == 0) {
            const MVPinProperties zero{};
            if (std::memcmp(&p, &zero, sizeof p) != 0) ctx.fail("the refused pin query " + std::to_string(j) + " wrote into the record");
            return j;
        }
        out->push_back(p);
    }
    ctx.fail("the pin table never ends (4096 pins answered)");
    return 4096;
}

bool same_pin(const MVPinProperties& a, const MVPinProperties& b) {
    auto eq = [](const char* x, const char* y) { return (!x && !y) || (x && y && std::strcmp(x, y) == 0); };
    return a.direction == b.direction && a.datatype == b.datatype && a.flags == b.flags && eq(a.name, b.name) &&
           eq(a.default_value, b.default_value) && eq(a.datatype_extra, b.datatype_extra);
}

}  // namespace

void check_pin_table(CheckContext& ctx) {
    auto plugin = load_plugin(ctx);
    if (!plugin) return;
    Harness h(plugin, {}, ctx);
    if (!h.create()) return;
    auto query = [&](int j, MVPinProperties* p) { return h.dispatch(MD_PIN_PROPERTIES, j, 0, p); };
    std::vector<MVPinProperties> before, again, after;
    const int n = scan_pins(ctx, query, &before);
    for (int j = 0; j < n; ++j) check_one_pin(ctx, before[j], j, j == n - 1);
    scan_pins(ctx, query, &again);
    if (again.size() != before.size()) ctx.fail("a second scan of the pin table gives a different number of pins");
    for (int j : {-1, -2, -1000, n, n + 1, n + 100}) {
        MVPinProperties p;
        std::memset(&p, 0, sizeof p);
        if (query(j, &p) != 0) ctx.fail("the pin query " + std::to_string(j) + " past the table was answered");
        const MVPinProperties zero{};
        if (std::memcmp(&p, &zero, sizeof p) != 0) ctx.fail("the refused pin query " + std::to_string(j) + " wrote into the record");
    }
    h.open();
    h.run_block(h.config().block_size);
    scan_pins(ctx, query, &after);
    if (after.size() != before.size()) ctx.fail("the pin table changes size after open");
    for (size_t j = 0; j < std::min(after.size(), before.size()); ++j)
        if (!same_pin(before[j], after[j])) ctx.fail("pin " + std::to_string(j) + " is described differently after open");
    ctx.note(std::to_string(n) + " pins");
}

}  // namespace mvh::validate
