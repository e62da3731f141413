// The host: instances, wires, the block loop, and the answers to every host opcode.
#include "mvhost/host.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <queue>
#include <unordered_map>

#include "registry.h"

#ifdef MV_HAVE_PLATFORM
#include "mvp/window.h"
#endif

namespace mvh {

namespace {

constexpr intptr_t kPatchViewContext = 1;

int clock_arg(void* ptr) { return static_cast<int>(reinterpret_cast<intptr_t>(ptr)); }

bool is_gui_record(Instance* inst, void* record) {
    if (record == inst->gui()) return true;
    if (record == inst->audio() || record == inst->audio_v1()) return false;
    // Still under construction: the GUI record is the one carrying the GUI magic.
    uint32_t magic = 0;
    std::memcpy(&magic, record, sizeof magic);
    return magic == kMVGuiMagic;
}

}  // namespace

Host::Host(HostConfig config) : m_config(std::move(config)) {
    m_time_info.tempo = m_config.tempo;
    m_time_info.sample_rate = m_config.sample_rate;
    m_time_info.time_sig_numerator = 4;
    m_time_info.time_sig_denominator = 4;
#ifdef MV_HAVE_PLATFORM
    // The patch view: a window at a fixed place on the screen, so menus open at known points.
    m_window = mvp::create_window("Morvane patch", mvp::RECT{100, 80, 1380, 880});
#endif
}

Host::~Host() {
    close();
#ifdef MV_HAVE_PLATFORM
    mvp::DestroyWindow(static_cast<mvp::HWND>(m_window));
#endif
}

Instance* Host::add(const std::string& plugin_path, const std::string& name, const InstanceOptions& options,
                    std::string* error) {
    std::string why;
    auto plugin = Plugin::load(plugin_path, &why);
    if (!plugin) {
        if (error) *error = why;
        return nullptr;
    }
    Instance* inst = add(plugin, name, options);
    if (!inst->audio() && !inst->audio_v1()) {
        if (error) *error = plugin_path + ": the plug-in created no audio object";
    }
    return inst;
}

Instance* Host::add(std::shared_ptr<Plugin> plugin, const std::string& name, const InstanceOptions& options) {
    if (m_config.host_folder.empty())
        m_config.host_folder = std::filesystem::path(plugin->path()).parent_path().string();
    m_instances.push_back(std::make_unique<Instance>(*this, std::move(plugin), name, options));
    m_by_name.emplace(name, m_instances.back().get());
    m_order.clear();
    return m_instances.back().get();
}

Instance* Host::find(const std::string& name) const {
    const auto it = m_by_name.find(name);
    return it == m_by_name.end() ? nullptr : it->second;
}

std::string Host::unknown_instance(const std::string& name) const {
    std::string names;
    for (const auto& i : m_instances) names += (names.empty() ? "" : ", ") + i->name();
    return "unknown instance \"" + name + "\" (" + (names.empty() ? "the patch has none" : "instances: " + names) + ")";
}

bool Host::connected(const Instance* inst, int gui_pin) const {
    if (gui_pin < 0 || gui_pin >= static_cast<int>(inst->m_wires_out.size())) return false;
    return !inst->m_wires_out[gui_pin].empty() || !inst->m_wires_in[gui_pin].empty();
}

bool Host::connect(Instance* from, int from_pin, Instance* to, int to_pin, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (!from || !to) return fail("no such instance");
    if (from_pin < 0 || from_pin >= static_cast<int>(from->pins().size()))
        return fail(from->name() + ": no pin " + std::to_string(from_pin));
    if (to_pin < 0 || to_pin >= static_cast<int>(to->pins().size()))
        return fail(to->name() + ": no pin " + std::to_string(to_pin));
    const PinInfo& a = from->pins()[from_pin];
    const PinInfo& b = to->pins()[to_pin];
    if (a.direction != DR_OUT)
        return fail(from->name() + "." + a.name + " is not an output");
    if (b.direction == DR_OUT) return fail(to->name() + "." + b.name + " is an output, not an input");
    const bool a_midi = a.datatype == DT_MIDI, b_midi = b.datatype == DT_MIDI;
    if (a_midi != b_midi)
        return fail(from->name() + "." + a.name + " (" + datatype_name(a.datatype) + ") cannot connect to " +
                    to->name() + "." + b.name + " (" + datatype_name(b.datatype) + ")");
    if ((from->is_open() && !a.gui_only()) || (to->is_open() && !b.gui_only()))
        return fail("audio-side pins cannot be wired after the patch is open");
    // The same wire again: either end's own wires tell, the shorter list the sooner.
    const std::vector<size_t>& leaving = from->m_wires_out[from_pin];
    const std::vector<size_t>& entering = to->m_wires_in[to_pin];
    for (size_t k : leaving.size() <= entering.size() ? leaving : entering) {
        const Wire& w = m_wires[k];
        if (w.from == from && w.from_pin == from_pin && w.to == to && w.to_pin == to_pin) return fail("already connected");
    }
    const bool a_spare = a.index == static_cast<int>(from->pins().size()) - 1 && (a.flags & IO_DUPLICATES);
    const bool b_spare = b.index == static_cast<int>(to->pins().size()) - 1 && (b.flags & IO_DUPLICATES);
    const bool a_was = connected(from, from_pin), b_was = connected(to, to_pin);
    from->m_wires_out[from_pin].push_back(m_wires.size());
    to->m_wires_in[to_pin].push_back(m_wires.size());
    m_wires.push_back({from, from_pin, to, to_pin});
    // Connecting the last pin of a duplicating list gives the module a fresh spare one.
    if (a_spare && !a_was) from->add_duplicate();
    if (b_spare && !b_was) to->add_duplicate();
    m_order.clear();
    if (from->is_open() && from->gui()) from->gui_dispatch(GD_CONNECTED, from_pin);
    if (to->is_open() && to->gui()) to->gui_dispatch(GD_CONNECTED, to_pin);
    return true;
}

void Host::compute_order() {
    // Sources first, in creation order among equals. Only wires between audio-side pins order
    // the instances: GUI wires are served between blocks. Taken in the order they were made, a
    // wire that would close a loop does not count, so only its reader hears the previous block;
    // every other wire, those leaving the loop included, is heard in the same block.
    const size_t n = m_instances.size();
    std::unordered_map<const Instance*, size_t> pos;
    pos.reserve(n);
    for (size_t i = 0; i < n; ++i) pos[m_instances[i].get()] = i;
    std::vector<std::pair<size_t, size_t>> edges;  // the audio wires between two instances, in order
    for (const Wire& w : m_wires) {
        if (w.from == w.to || w.from->pins()[w.from_pin].gui_only() || w.to->pins()[w.to_pin].gui_only()) continue;
        edges.emplace_back(pos[w.from], pos[w.to]);
    }
    std::vector<std::vector<size_t>> out(n);
    std::vector<int> indegree(n, 0);
    // The smallest ready instance first: the creation order among equals.
    auto sort_ready = [&](std::vector<size_t>* sorted) {
        std::vector<int> waiting = indegree;
        std::priority_queue<size_t, std::vector<size_t>, std::greater<size_t>> ready;
        for (size_t i = 0; i < n; ++i)
            if (waiting[i] == 0) ready.push(i);
        sorted->clear();
        while (!ready.empty()) {
            const size_t i = ready.top();
            ready.pop();
            sorted->push_back(i);
            for (size_t j : out[i])
                if (--waiting[j] == 0) ready.push(j);
        }
    };
    for (const auto& [a, b] : edges) {
        out[a].push_back(b);
        ++indegree[b];
    }
    std::vector<size_t> sorted;
    sort_ready(&sorted);
    if (sorted.size() < n) {
        // A loop: the wires are taken again one by one, each dropped when its reader already
        // reaches its writer through the wires taken before it. Most patches have none, and skip
        // this walk.
        for (auto& o : out) o.clear();
        std::fill(indegree.begin(), indegree.end(), 0);
        std::vector<size_t> seen(n, 0);  // the walk that last saw each instance
        size_t walk = 0;
        std::vector<size_t> stack;
        auto reaches = [&](size_t from, size_t to) {
            ++walk;
            stack.assign(1, from);
            while (!stack.empty()) {
                const size_t i = stack.back();
                stack.pop_back();
                if (i == to) return true;
                if (seen[i] == walk) continue;
                seen[i] = walk;
                for (size_t j : out[i]) stack.push_back(j);
            }
            return false;
        };
        for (const auto& [a, b] : edges) {
            if (reaches(b, a)) continue;
            out[a].push_back(b);
            ++indegree[b];
        }
        sort_ready(&sorted);
    }
    m_order.clear();
    for (size_t i : sorted) m_order.push_back(m_instances[i].get());
    m_feeds.clear();
    for (Instance* inst : m_order) {
        std::vector<Feed>& feeds = m_feeds.emplace_back();
        for (const PinInfo& pin : inst->pins()) {
            if (pin.gui_only() || pin.datatype != DT_FSAMPLE || !pin.is_input()) continue;
            Feed& feed = feeds.emplace_back();
            feed.pin = pin.index;
            for (size_t k : inst->m_wires_in[pin.index]) feed.sources.emplace_back(m_wires[k].from, m_wires[k].from_pin);
        }
    }
}

const std::vector<Instance*>& Host::order() const {
    if (m_order.size() != m_instances.size()) const_cast<Host*>(this)->compute_order();
    return m_order;
}

void Host::open() {
    if (m_opened) return;
    m_opened = true;
    for (Instance* inst : order()) inst->open();
}

namespace {

// The sum of a second wire into an input. Fixed runs of eight let -O2 vectorise the loop (its
// cost model leaves loops of unknown length scalar); the order of each sum is unchanged.
void add_into(float* __restrict dst, const float* __restrict src, int n) {
    int k = 0;
    for (; k + 8 <= n; k += 8)
        for (int j = 0; j < 8; ++j) dst[k + j] += src[k + j];
    for (; k < n; ++k) dst[k] += src[k];
}

}  // namespace

void Host::gather_inputs(Instance* inst, const std::vector<Feed>& feeds, int offset, int n) {
    for (const Feed& feed : feeds) {
        if (feed.sources.empty()) {
            inst->hold_constant(feed.pin);
            continue;
        }
        float* dst = inst->buffer(feed.pin);
        if (!dst) continue;
        dst += offset;
        bool any = false;
        for (const auto& [from, from_pin] : feed.sources) {
            const float* src = from->buffer(from_pin);
            if (!src) continue;
            src += offset;
            if (!any) std::copy(src, src + n, dst);
            else
                add_into(dst, src, n);
            any = true;
        }
        if (!any) std::fill(dst, dst + n, inst->m_constants[feed.pin]);
    }
}

int Host::run_block(int n) {
    if (!m_opened) open();
    const int offset = m_block_offset;
    const int left = m_config.block_size - offset;
    if (n < 0 || n > left) n = left;
    if (before_block) before_block(*this, m_clock);
    const std::vector<Instance*>& run_order = order();  // m_feeds follows it
    for (size_t k = 0; k < run_order.size(); ++k) {
        gather_inputs(run_order[k], m_feeds[k], offset, n);
        run_order[k]->run_block(m_clock - offset, m_clock, n);
    }
    const int start = m_clock;
    m_clock += n;
    m_block_offset = n == left || !m_keep_grid ? 0 : offset + n;
    if (!m_pending_gui.empty()) {
        std::vector<std::pair<Instance*, int>> pending;
        pending.swap(m_pending_gui);
        for (const auto& [inst, pin] : pending) inst->gui_notify(pin);
    }
    if (after_block) after_block(*this, start, n);
    // With two threads the GUI thread makes the idle calls on its own clock.
    if (!m_bridge) idle();
    return n;
}

void Host::run(int samples) {
    while (samples > 0) samples -= run_block(samples);
}

void Host::idle() {
    for (const auto& inst : m_instances)
        if (inst->idle_calls && inst->is_open()) inst->gui_dispatch(GD_IDLE);
}

void Host::set_bridge(ThreadBridge* bridge) {
    m_bridge = bridge;
    if (!bridge) return;
    // Enough that a person (or a script) cannot outrun them between two GUI ticks.
    constexpr size_t kEventReserve = 4096;
    for (const auto& inst : m_instances) inst->m_events.reserve(kEventReserve);
    m_pending_gui.reserve(kEventReserve);
}

void Host::close_gui_objects() {
    for (auto it = m_instances.rbegin(); it != m_instances.rend(); ++it) (*it)->close_gui();
}

void Host::close() {
    // GUI objects first, then audio objects, in reverse order of creation.
    for (auto it = m_instances.rbegin(); it != m_instances.rend(); ++it) (*it)->close();
    m_instances.clear();
    m_by_name.clear();
    m_pending_gui.clear();
    m_wires.clear();
    m_order.clear();
    m_opened = false;
    m_block_offset = 0;
}

void Host::queue_midi(Instance* to, int gui_pin, int clock, int32_t word) {
    Instance::Event ev{};
    ev.clock = std::max(clock, m_clock);
    ev.e.event_type = EV_MIDI;
    ev.e.int_parm1 = word;
    ev.e.int_parm2 = 0;
    ev.e.ptr_parm = reinterpret_cast<void*>(static_cast<intptr_t>(to->gui_to_audio(gui_pin)));
    to->queue(std::move(ev));
}

void Host::propagate_status(Instance* from, int gui_pin, int state, int clock) {
    from->m_announced[gui_pin] = state;
    if (m_bridge) return propagate_status_bridged(from, gui_pin, state, clock);
    const PinInfo& pin = from->pins()[gui_pin];
    PinValue v = from->read_variable(gui_pin);
    if (pin.datatype != DT_FSAMPLE) from->m_values[gui_pin] = v;
    for (size_t k : from->m_wires_out[gui_pin]) {
        const Wire& w = m_wires[k];
        Instance* to = w.to;
        const PinInfo& dst = to->pins()[w.to_pin];
        if (dst.gui_only() || (dst.flags & IO_BOTH_SIDES)) {
            // The GUI object hears of it between blocks, as GUI calls never run inside one.
            if (pin.datatype != DT_FSAMPLE) to->m_values[w.to_pin] = v;
            m_pending_gui.push_back({to, w.to_pin});
            if (dst.gui_only()) continue;
        }
        Instance::Event ev{};
        ev.clock = std::max(clock, m_clock);
        ev.e.event_type = EV_PIN_STATE;
        ev.e.int_parm1 = pin.datatype == DT_FSAMPLE ? summed_state(w, state) : state;
        ev.e.ptr_parm = reinterpret_cast<void*>(static_cast<intptr_t>(dst.audio_index));
        ev.e.int_parm2 = w.to_pin;
        if (pin.datatype != DT_FSAMPLE) {
            to->m_values[w.to_pin] = v;
            ev.value = v;
            ev.has_value = true;
        } else {
            ev.value = to->m_values[w.to_pin];
            ev.has_value = false;
        }
        to->queue(std::move(ev));
    }
}

int Host::summed_state(const Wire& into, int state) const {
    if (state == PIN_STREAMING) return state;
    // One wire's change (a constant's new value) must not stop the input streaming while another
    // wire into it (an LFO) still streams: the module would read the sum once and hold it.
    for (size_t k : into.to->m_wires_in[into.to_pin]) {
        const Wire& w = m_wires[k];
        if ((w.from != into.from || w.from_pin != into.from_pin) && w.from->m_announced[w.from_pin] == PIN_STREAMING)
            return PIN_STREAMING;
    }
    return state;
}

void Host::propagate_midi(Instance* from, int gui_pin, int32_t word, int clock) {
    for (size_t k : from->m_wires_out[gui_pin]) queue_midi(m_wires[k].to, m_wires[k].to_pin, clock, word);
}

void Host::propagate_gui_write(Instance* from, int gui_pin, bool changed) {
    const PinInfo& pin = from->pins()[gui_pin];
    const PinValue v = from->m_values[gui_pin];
    if (changed) from->gui_notify(gui_pin);
    if (!pin.gui_only() && from->is_open() && m_bridge) m_bridge->to_audio(from, gui_pin, v);
    else if (!pin.gui_only() && from->is_open()) {
        // Shared with the audio side: the audio object hears of it at the next block boundary.
        Instance::Event ev{};
        ev.clock = m_clock;
        ev.e.event_type = EV_PIN_STATE;
        ev.e.int_parm1 = PIN_CHANGED_ONCE;
        ev.e.ptr_parm = reinterpret_cast<void*>(static_cast<intptr_t>(pin.audio_index));
        ev.e.int_parm2 = gui_pin;
        ev.value = v;
        ev.has_value = true;
        from->queue(std::move(ev));
    }
    // Copies of the pin's wires: a notified module may write again (view-link messages answer
    // each other), and so change the host's lists.
    std::vector<Wire> wires;
    for (size_t k : from->m_wires_out[gui_pin]) wires.push_back(m_wires[k]);
    for (const Wire& w : wires) {
        if (w.to == from) continue;
        w.to->m_values[w.to_pin] = v;
        const PinInfo& dst = w.to->pins()[w.to_pin];
        if (dst.gui_only() || (dst.flags & IO_BOTH_SIDES)) w.to->gui_notify(w.to_pin);
        if (!dst.gui_only() && w.to->is_open() && m_bridge) m_bridge->to_audio(w.to, w.to_pin, v);
        else if (!dst.gui_only() && w.to->is_open()) {
            Instance::Event ev{};
            ev.clock = m_clock;
            ev.e.event_type = EV_PIN_STATE;
            ev.e.int_parm1 = PIN_CHANGED_ONCE;
            ev.e.ptr_parm = reinterpret_cast<void*>(static_cast<intptr_t>(dst.audio_index));
            ev.e.int_parm2 = w.to_pin;
            ev.value = v;
            ev.has_value = true;
            w.to->queue(std::move(ev));
        }
    }
}

Instance* Host::owner_of(void* record) const { return registry_find(record); }

// ---- the callback ------------------------------------------------------------------------------

intptr_t host_audio_opcode(Instance* inst, int32_t opcode, int32_t index, intptr_t value, void* ptr) {
    Host& host = inst->m_host;
    auto gui_pin = [&](int audio_index) { return inst->audio_to_gui(audio_index); };
    switch (opcode) {
    case AM_PIN_STATUS: {
        const int g = gui_pin(index);
        // The logs grow without end; a live session (with a bridge) keeps none.
        if (!host.m_bridge) inst->status_log.push_back({index, static_cast<int>(value), clock_arg(ptr)});
        if (g >= 0) host.propagate_status(inst, g, static_cast<int>(value), clock_arg(ptr));
        return 0;
    }
    case AM_PIN_CONNECTED: {
        const int g = gui_pin(index);
        return g >= 0 && host.connected(inst, g) ? 1 : 0;
    }
    case AM_SAMPLE_CLOCK: return inst->m_clock;
    case AM_SEND_MIDI: {
        const int g = gui_pin(index);
        const int clock = std::max(clock_arg(ptr), inst->m_clock);
        if (!host.m_bridge) inst->midi_log.push_back({index, static_cast<int32_t>(value), clock});
        if (host.m_midi_tap && g >= 0) host.m_midi_tap(host.m_midi_tap_context, inst, g, static_cast<int32_t>(value), clock);
        if (g >= 0) host.propagate_midi(inst, g, static_cast<int32_t>(value), clock);
        return 0;
    }
    case AM_PIN_BUFFER: {
        const int g = gui_pin(index);
        return reinterpret_cast<intptr_t>(g >= 0 ? inst->buffer(g) : nullptr);
    }
    case AM_BUFFER_START: return inst->m_block_start;
    case AM_TIME_INFO: return reinterpret_cast<intptr_t>(host.time_info());
    case AM_SLEEP: inst->m_sleeping = true; return 0;
    case AM_PIN_COUNT: return inst->audio_pin_count();
    case AM_PROCESS_CHANGED: ++inst->process_changes; return 0;
    case AM_HOST_VERSION: return host.config().host_version;
    default: return 0;
    }
}

intptr_t host_gui_opcode(Instance* inst, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    Host& host = inst->m_host;
    const int npins = static_cast<int>(inst->m_pins.size());
    const bool valid_pin = index >= 0 && index < npins;
    switch (opcode) {
    case GM_REPAINT: ++inst->repaint_requests; return 0;
    case GM_SEND_TO_AUDIO: return 0;
    case GM_SET_SIZE:
        inst->panel_width = index;
        inst->panel_height = static_cast<int>(value);
        return 0;
    case GM_PIN_COUNT: return npins;
    case GM_SET_TEXT: {
        if (!valid_pin) return 0;
        const std::string text = ptr ? static_cast<const char*>(ptr) : "";
        PinValue& v = inst->m_values[index];
        const bool changed = v.text != text;
        v.text = text;
        host.propagate_gui_write(inst, index, changed);
        return 0;
    }
    case GM_GET_TEXT:
        if (!valid_pin) return 0;
        return reinterpret_cast<intptr_t>(inst->m_values[index].text.c_str());
    case GM_GET_VALUE: {
        if (!valid_pin || !ptr) return 0;
        answer_get_value(inst->m_pins[index].datatype, inst->m_values[index], ptr);
        return 0;
    }
    case GM_SET_VALUE: {
        if (!valid_pin) return 0;
        const int type = inst->m_pins[index].datatype;
        if (type == DT_TEXT || type == DT_MIDI) return 0;
        const bool changed = store_set_value(type, inst->m_values[index], value, opt);
        host.propagate_gui_write(inst, index, changed);
        return 0;
    }
    case GM_WINDOW_HANDLE: return index == kPatchViewContext ? host.patch_window() : 0;
    case GM_CAPTURE_MOUSE: inst->mouse_captured = true; return 0;
    case GM_RELEASE_MOUSE: inst->mouse_captured = false; return 0;
    case GM_IS_CAPTURED: return inst->mouse_captured ? 1 : 0;
    case GM_IDLE_CALLS: inst->idle_calls = index != 0; return 0;
    case GM_HOST_FOLDER: {
        if (!ptr) return 0;
        const int capacity = value > 0 ? static_cast<int>(std::min<intptr_t>(value, 300)) : 300;
        auto* out = static_cast<uint16_t*>(ptr);
        std::string folder = host.config().host_folder;
        if (!folder.empty() && folder.back() != '/') folder += '/';
        int k = 0;
        // Host folders are plain ASCII paths here; other bytes pass as Latin-1 units.
        for (; k < capacity - 1 && k < static_cast<int>(folder.size()); ++k)
            out[k] = static_cast<unsigned char>(folder[k]);
        out[k] = 0;
        return k;
    }
    case GM_HOST_MODE: return host.config().host_mode;
    case GM_CONTEXT_PARENT: return index == kPatchViewContext ? 0 : (index >= 100 ? kPatchViewContext : 0);
    case GM_MAP_POINT: {
        if (!ptr) return 0;
        auto* pt = static_cast<MVPoint*>(ptr);
        // Panels sit at their position inside the patch view.
        auto offset_of = [&](intptr_t ctx, int& dx, int& dy) {
            dx = dy = 0;
            for (const auto& other : host.instances())
                if (other->context() == ctx) {
                    dx = other->panel_x();
                    dy = other->panel_y();
                }
        };
        int fx, fy, tx, ty;
        offset_of(index, fx, fy);
        offset_of(value, tx, ty);
        pt->x += fx - tx;
        pt->y += fy - ty;
        return 1;
    }
    default: return 0;
    }
}

intptr_t host_callback_impl(void* record, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    if (!record) return 0;
    Instance* inst = registry_find(record);
    if (!inst) return 0;
    if (is_gui_record(inst, record)) return host_gui_opcode(inst, opcode, index, value, ptr, opt);
    return host_audio_opcode(inst, opcode, index, value, ptr);
}

intptr_t MV_CDECL host_callback(void* record, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    return host_callback_impl(record, opcode, index, value, ptr, opt);
}

}  // namespace mvh
