// The tests' LV2 host on lilv.
#include "lilv_rig.h"

#include <lv2/buf-size/buf-size.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace lv2test {

constexpr size_t kAtomBytes = 1 << 16;

World::World() : m_world(lilv_world_new()) {
    m_map = {this, map_cb};
    m_unmap = {this, unmap_cb};
    m_log = {this, log_printf, log_vprintf};
    m_options = {{LV2_OPTIONS_INSTANCE, 0, map(LV2_BUF_SIZE__maxBlockLength), sizeof(int32_t), map(LV2_ATOM__Int), &m_max_block},
                 {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
    m_f_map = {LV2_URID__map, &m_map};
    m_f_unmap = {LV2_URID__unmap, &m_unmap};
    m_f_log = {LV2_LOG__log, &m_log};
    m_f_options = {LV2_OPTIONS__options, m_options.data()};
    m_features = {&m_f_map, &m_f_unmap, &m_f_log, &m_f_options, nullptr};
}

World::~World() { lilv_world_free(m_world); }

const LilvPlugin* World::load(const std::string& bundle) {
    std::string uri = "file://" + bundle + (bundle.back() == '/' ? "" : "/");
    LilvNode* node = lilv_new_uri(m_world, uri.c_str());
    lilv_world_load_bundle(m_world, node);
    lilv_node_free(node);
    const LilvPlugins* all = lilv_world_get_all_plugins(m_world);
    LILV_FOREACH (plugins, it, all) {
        const LilvPlugin* p = lilv_plugins_get(all, it);
        const std::string b = lilv_node_as_uri(lilv_plugin_get_bundle_uri(p));
        if (b == uri) return p;
    }
    return nullptr;
}

LV2_URID World::map(const std::string& uri) {
    auto it = m_ids.find(uri);
    if (it != m_ids.end()) return it->second;
    m_uris.push_back(uri);
    return m_ids[uri] = static_cast<LV2_URID>(m_uris.size());
}

std::string World::unmap(LV2_URID id) const { return id && id <= m_uris.size() ? m_uris[id - 1] : std::string(); }

LV2_URID World::map_cb(LV2_URID_Map_Handle h, const char* uri) { return static_cast<World*>(h)->map(uri); }
const char* World::unmap_cb(LV2_URID_Unmap_Handle h, LV2_URID id) {
    auto* w = static_cast<World*>(h);
    return id && id <= w->m_uris.size() ? w->m_uris[id - 1].c_str() : nullptr;
}
int World::log_printf(LV2_Log_Handle h, LV2_URID type, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    const int n = log_vprintf(h, type, fmt, ap);
    va_end(ap);
    return n;
}
int World::log_vprintf(LV2_Log_Handle h, LV2_URID, const char* fmt, va_list ap) {
    char line[2048];
    const int n = std::vsnprintf(line, sizeof line, fmt, ap);
    static_cast<World*>(h)->log_lines.push_back(line);
    return n;
}

Instance::Instance(World& world, const LilvPlugin* plugin, double rate) : m_world(world), m_plugin(plugin), m_rate(rate) {
    m_instance = lilv_plugin_instantiate(plugin, rate, world.features());
    if (!m_instance) return;
    const uint32_t n = lilv_plugin_get_num_ports(plugin);
    m_controls.assign(n, 0.0f);
    m_audio.resize(n);
    m_atoms.resize(n);
    LilvWorld* w = world.world();
    LilvNode* audio = lilv_new_uri(w, LV2_CORE__AudioPort);
    LilvNode* control = lilv_new_uri(w, LV2_CORE__ControlPort);
    LilvNode* atom = lilv_new_uri(w, LV2_ATOM__AtomPort);
    LilvNode* input = lilv_new_uri(w, LV2_CORE__InputPort);
    LilvNode* freewheel = lilv_new_uri(w, LV2_CORE__freeWheeling);
    LilvNode* designation = lilv_new_uri(w, LV2_CORE__designation);
    std::vector<float> defaults(n);
    lilv_plugin_get_port_ranges_float(plugin, nullptr, nullptr, defaults.data());
    for (uint32_t k = 0; k < n; ++k) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, k);
        const bool in = lilv_port_is_a(plugin, port, input);
        if (lilv_port_is_a(plugin, port, audio)) {
            m_audio[k].assign(8192, 0.0f);
            (in ? m_audio_in : m_audio_out).push_back(static_cast<int>(k));
            lilv_instance_connect_port(m_instance, k, m_audio[k].data());
        } else if (lilv_port_is_a(plugin, port, atom)) {
            m_atoms[k].assign(kAtomBytes, 0);
            (in ? m_atom_in : m_atom_out).push_back(static_cast<int>(k));
            lilv_instance_connect_port(m_instance, k, m_atoms[k].data());
        } else if (lilv_port_is_a(plugin, port, control)) {
            m_controls[k] = std::isnan(defaults[k]) ? 0.0f : defaults[k];
            LilvNode* d = lilv_port_get(plugin, port, designation);
            if (d && lilv_node_equals(d, freewheel)) m_freewheel = static_cast<int>(k);
            lilv_node_free(d);
            lilv_instance_connect_port(m_instance, k, &m_controls[k]);
        }
    }
    for (LilvNode* node : {audio, control, atom, input, freewheel, designation}) lilv_node_free(node);
    lilv_instance_activate(m_instance);
}

Instance::~Instance() {
    if (!m_instance) return;
    lilv_instance_deactivate(m_instance);
    lilv_instance_free(m_instance);
}

uint32_t Instance::port_index(const std::string& symbol) const {
    LilvNode* s = lilv_new_string(m_world.world(), symbol.c_str());
    const LilvPort* port = lilv_plugin_get_port_by_symbol(m_plugin, s);
    lilv_node_free(s);
    if (!port) throw std::runtime_error("no port " + symbol);
    return lilv_port_get_index(m_plugin, port);
}

void Instance::set_control(const std::string& symbol, float value) { m_controls[port_index(symbol)] = value; }

void Instance::set_path(const std::string& key, const std::string& path) {
    const std::string uri = lilv_node_as_uri(lilv_plugin_get_uri(m_plugin));
    m_pending_paths.emplace_back(uri + "#" + key, path);
}

std::vector<std::vector<float>> Instance::render(int64_t frames, const std::vector<int>& blocks,
                                                 const std::vector<Note>& notes, bool freewheel) {
    std::vector<std::vector<float>> out(m_audio_out.size());
    midi_out.clear();
    parameters_out.clear();
    if (m_freewheel >= 0) m_controls[m_freewheel] = freewheel ? 1.0f : 0.0f;
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, m_world.urid_map());
    const LV2_URID midi = m_world.map(LV2_MIDI__MidiEvent), chunk = m_world.map(LV2_ATOM__Chunk);
    int64_t pos = 0;
    size_t next = 0, b = 0;
    while (pos < frames) {
        const int n = static_cast<int>(std::min<int64_t>(blocks[b++ % blocks.size()], frames - pos));
        for (size_t k = 0; k < m_atom_in.size(); ++k) {
            uint8_t* buf = m_atoms[m_atom_in[k]].data();
            lv2_atom_forge_set_buffer(&forge, buf, kAtomBytes);
            LV2_Atom_Forge_Frame seq;
            lv2_atom_forge_sequence_head(&forge, &seq, 0);
            if (k == 0) {
                for (const auto& [property, path] : m_pending_paths) {
                    lv2_atom_forge_frame_time(&forge, 0);
                    LV2_Atom_Forge_Frame obj;
                    lv2_atom_forge_object(&forge, &obj, 0, m_world.map(LV2_PATCH__Set));
                    lv2_atom_forge_key(&forge, m_world.map(LV2_PATCH__property));
                    lv2_atom_forge_urid(&forge, m_world.map(property));
                    lv2_atom_forge_key(&forge, m_world.map(LV2_PATCH__value));
                    lv2_atom_forge_path(&forge, path.c_str(), static_cast<uint32_t>(path.size()));
                    lv2_atom_forge_pop(&forge, &obj);
                }
                m_pending_paths.clear();
                if (m_ask_parameters) {
                    lv2_atom_forge_frame_time(&forge, 0);
                    LV2_Atom_Forge_Frame obj;
                    lv2_atom_forge_object(&forge, &obj, 0, m_world.map(LV2_PATCH__Get));
                    lv2_atom_forge_pop(&forge, &obj);
                    m_ask_parameters = false;
                }
                while (next < notes.size() && notes[next].frame < pos + n) {
                    lv2_atom_forge_frame_time(&forge, notes[next].frame - pos);
                    lv2_atom_forge_atom(&forge, 3, midi);
                    lv2_atom_forge_write(&forge, notes[next].bytes, 3);
                    ++next;
                }
            }
            lv2_atom_forge_pop(&forge, &seq);
        }
        for (int k : m_atom_out) {
            auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(m_atoms[k].data());
            seq->atom.type = chunk;
            seq->atom.size = kAtomBytes - sizeof(LV2_Atom);
        }
        if (around_run) around_run(true);
        lilv_instance_run(m_instance, static_cast<uint32_t>(n));
        if (around_run) around_run(false);
        for (size_t c = 0; c < m_audio_out.size(); ++c)
            out[c].insert(out[c].end(), m_audio[m_audio_out[c]].begin(), m_audio[m_audio_out[c]].begin() + n);
        for (int k : m_atom_out) {
            const auto* seq = reinterpret_cast<const LV2_Atom_Sequence*>(m_atoms[k].data());
            LV2_ATOM_SEQUENCE_FOREACH(seq, ev) {
                if (ev->body.type == m_world.map(LV2_ATOM__Object)) {
                    const auto* obj = reinterpret_cast<const LV2_Atom_Object*>(&ev->body);
                    const LV2_Atom *property = nullptr, *value = nullptr;
                    lv2_atom_object_get(obj, m_world.map(LV2_PATCH__property), &property, m_world.map(LV2_PATCH__value), &value, 0);
                    if (obj->body.otype == m_world.map(LV2_PATCH__Set) && property && value &&
                        property->type == m_world.map(LV2_ATOM__URID))
                        parameters_out.emplace_back(m_world.urid_unmap()->unmap(m_world.urid_unmap()->handle,
                                                                                reinterpret_cast<const LV2_Atom_URID*>(property)->body),
                                                    static_cast<const char*>(LV2_ATOM_BODY_CONST(value)));
                    continue;
                }
                if (ev->body.type != midi) continue;
                Note note{pos + ev->time.frames, {0, 0, 0}};
                std::memcpy(note.bytes, ev + 1, std::min<uint32_t>(3, ev->body.size));
                midi_out.push_back(note);
            }
        }
        pos += n;
    }
    return out;
}

namespace {

const void* port_value(const char* symbol, void* user, uint32_t* size, uint32_t* type) {
    auto* self = static_cast<std::pair<Instance*, World*>*>(user);
    (void)symbol, (void)self;
    *size = 0;
    *type = 0;
    return nullptr;
}

}  // namespace

LilvState* Instance::save(const std::string& dir) {
    std::pair<Instance*, World*> user{this, &m_world};
    return lilv_state_new_from_instance(m_plugin, m_instance, m_world.urid_map(), nullptr, dir.c_str(), dir.c_str(),
                                        dir.c_str(), port_value, &user, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE,
                                        m_world.features());
}

void Instance::restore(LilvState* state) {
    lilv_state_restore(state, m_instance, nullptr, nullptr, 0, m_world.features());
}

}  // namespace lv2test
