// The editor's panel through the host with the platform's scripted user answering for the person:
// clicks open the menu, scripts choose entries and run dialogs, paints land in platform pixels.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "mvp/gdi.h"
#include "mvp/scripted_user.h"

namespace tallisk::test {

using nlohmann::json;

class Panel {
public:
    explicit Panel(mvh::HostConfig config = {}, mvh::InstanceOptions options = {})
        : t(std::make_unique<HostedTallisk>(config, options)) {}

    // Opens the host; `before` sets pins of a restored patch first.
    void open() {
        t->host.open();
        t->host.run_block();
    }
    void script(const json& entries) {
        std::string error;
        ASSERT_TRUE(user.load(entries, &error)) << error;
    }
    // A left click on the panel; the menu choice comes from the script.
    void click(int x = 10, int y = 10) { t->osc->pointer(GD_POINTER_DOWN, x, y); }
    void choose(const json& menu_entry) {
        script(json::array({{{"menu", menu_entry}}}));
        click();
    }
    json last_menu() const {
        const auto menus = user.log_of("menu");
        return menus.empty() ? json() : menus.back();
    }
    // The top-level entry of a menu log by its text.
    static json top(const json& menu, const std::string& text) {
        for (const json& item : menu["items"])
            if (item.value("text", "") == text) return item;
        return json();
    }
    std::string pin_text(const std::string& name) const { return t->osc->value(t->pin(name)).text; }
    float* edit() { return t->edit_buffer(); }
    // Destroys the host (and the editor); the save question, if any, goes to the script.
    void close() { t.reset(); }

    mvp::Image paint(int w, int h, mvp::COLORREF background = 0x00C0C0C0) {
        mvp::Image image;
        const mvp::HDC dc = mvp::create_panel_dc(w, h, background);
        t->osc->paint(dc, w, h);
        mvp::read_image(dc, &image);
        mvp::delete_panel_dc(dc);
        return image;
    }

    mvp::ScriptedUser user;
    mvp::ScopedUser installed{&user};
    std::unique_ptr<HostedTallisk> t;
};

// A folder of its own per test, removed at the end.
class TempDir {
public:
    explicit TempDir(const std::string& name)
        : m_path(std::filesystem::temp_directory_path() / ("tallisk_panel_" + name + "_" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~TempDir() { std::filesystem::remove_all(m_path); }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

// An uncompressed bottom-up BMP of one colour (COLORREF) with the given depth.
inline std::vector<uint8_t> solid_bmp(int w, int h, int bits, uint32_t colour) {
    const int bpp = bits / 8;
    const int stride = (w * bpp + 3) & ~3;
    std::vector<uint8_t> f(54 + static_cast<size_t>(stride) * h, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    f[0] = 'B';
    f[1] = 'M';
    put32(2, static_cast<uint32_t>(f.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(w));
    put32(22, static_cast<uint32_t>(h));
    f[26] = 1;
    f[28] = static_cast<uint8_t>(bits);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &f[54 + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * bpp];
            p[0] = static_cast<uint8_t>(colour >> 16);  // blue
            p[1] = static_cast<uint8_t>(colour >> 8);
            p[2] = static_cast<uint8_t>(colour);
        }
    return f;
}

inline void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace tallisk::test
