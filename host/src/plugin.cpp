// Loading a plug-in library by its undecorated export names and reading its description.
#include <filesystem>
#include <cstring>

#include "library.h"
#include "mvhost/host.h"

namespace mvh {

std::shared_ptr<Plugin> Plugin::load(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& why) -> std::shared_ptr<Plugin> {
        if (error) *error = why;
        return nullptr;
    };
    // A bare name that is a file here is that file: the loader would search the library path for
    // it instead (and "libm.so" would be the system's).
    std::error_code ec;
    // A Windows path ("Z:\\dir\\x.dll") names its folder already.
    const bool bare = path.find_first_of("/\\:") == std::string::npos;
    const std::string file = bare && std::filesystem::is_regular_file(path, ec) ? "./" + path : path;
    std::string why;
    void* handle = library_open(file, &why);
    if (!handle) return fail(path + ": cannot load: " + why);
    std::shared_ptr<Plugin> p(new Plugin());
    p->m_path = path;
    p->m_handle = handle;
    p->m_get_properties = reinterpret_cast<MVGetModulePropertiesFn>(library_symbol(handle, "getModuleProperties"));
    p->m_make_module = reinterpret_cast<MVMakeModuleFn>(library_symbol(handle, "makeModule"));
    if (p->m_get_properties && p->m_make_module) {
        MVModuleProperties props;
        std::memset(&props, 0, sizeof props);
        if (p->m_get_properties(0, &props) == 0) return fail(path + ": the plug-in refuses to describe module index 0");
        p->m_name = props.name ? props.name : "";
        p->m_id = props.id ? props.id : "";
        p->m_about = props.about ? props.about : "";
        p->m_flags = props.module_flags;
        p->m_sdk_version = props.sdk_version;
        return p;
    }
    p->m_get_properties = nullptr;
    p->m_make_module = nullptr;
    p->m_main = reinterpret_cast<MVMainFn>(library_symbol(handle, "main"));
    if (!p->m_main)
        return fail(path + ": not a Morvane plug-in (exports neither getModuleProperties/makeModule nor main)");

    // The older entry describes itself through its dispatcher (opcode 9) on a created object.
    MVModStructV1* rec = p->m_main(nullptr);
    if (!rec || !rec->dispatcher) return fail(path + ": the older entry 'main' returned no module record");
    const char* texts[3] = {nullptr, nullptr, nullptr};
    rec->dispatcher(rec, 9, 0, 0, texts, 0.0f);
    p->m_name = texts[0] ? texts[0] : "";
    p->m_id = texts[1] ? texts[1] : "";
    p->m_about = texts[2] ? texts[2] : "";
    rec->dispatcher(rec, 1, 0, 0, nullptr, 0.0f);
    return p;
}

Plugin::~Plugin() {
    if (m_handle) library_close(m_handle);
}

const char* datatype_name(int datatype) {
    switch (datatype) {
    case DT_ENUM: return "enum";
    case DT_TEXT: return "text";
    case DT_MIDI: return "midi";
    case DT_BOOL: return "bool";
    case DT_FSAMPLE: return "audio";
    case DT_FLOAT: return "float";
    case DT_INT: return "int";
    default: return "unknown";
    }
}

const char* direction_name(int direction) {
    switch (direction) {
    case DR_IN: return "in";
    case DR_OUT: return "out";
    case DR_PARAMETER: return "parameter";
    default: return "unknown";
    }
}

std::string flags_text(int flags) {
    static const struct {
        int bit;
        const char* name;
    } kNames[] = {{IO_DUPLICATES, "IO_DUPLICATES"},
                  {IO_PRIVATE, "IO_PRIVATE"},
                  {IO_UI_COMMUNICATION, "IO_UI_COMMUNICATION"},
                  {IO_BOTH_SIDES, "IO_BOTH_SIDES"},
                  {IO_PATCH_STORE, "IO_PATCH_STORE"}};
    std::string out;
    int rest = flags;
    for (const auto& n : kNames) {
        if (flags & n.bit) {
            if (!out.empty()) out += '|';
            out += n.name;
            rest &= ~n.bit;
        }
    }
    if (rest) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%x", rest);
        if (!out.empty()) out += '|';
        out += buf;
    }
    return out.empty() ? "0" : out;
}

}  // namespace mvh
