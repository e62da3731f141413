// Every patch the documentation shows renders: each ```json block of README.md, docs/*.md and the
// modules' READMEs (as if it were a file in examples/, whose files it may name), and every
// examples/*.json as `mvhost render --strict` renders it (but those that save a file, which their own
// tests render); and no scripted answer is left unused or refused, no box left unanswered.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "mvhost/patch.h"
#include "mvhost/render.h"

namespace fs = std::filesystem;

namespace {

const fs::path kSource = MV_SOURCE_DIR;

std::vector<fs::path> documents() {
    std::vector<fs::path> docs = {kSource / "README.md", kSource / "host" / "builtins" / "README.md"};
    for (const fs::path& dir : {kSource / "docs", kSource / "modules"})
        for (const auto& e : fs::recursive_directory_iterator(dir))
            if (e.path().extension() == ".md" && (dir.filename() == "docs" || e.path().filename() == "README.md"))
                docs.push_back(e.path());
    std::sort(docs.begin(), docs.end());
    return docs;
}

// The ```json blocks of a Markdown file, each with the line it starts on.
std::vector<std::pair<int, std::string>> json_blocks(const fs::path& file) {
    std::ifstream in(file);
    std::vector<std::pair<int, std::string>> blocks;
    std::string line, text;
    int number = 0, start = 0;
    bool inside = false;
    while (std::getline(in, line)) {
        ++number;
        if (!inside && line == "```json") {
            inside = true;
            start = number + 1;
            text.clear();
        } else if (inside && line == "```") {
            inside = false;
            blocks.emplace_back(start, text);
        } else if (inside) {
            text += line + "\n";
        }
    }
    return blocks;
}

void expect_renders(mvh::PatchRun& run, const std::string& place) {
    EXPECT_FALSE(run.outputs().empty()) << place << ": mvhost render needs \"output\"";
    run.run_until(run.total_samples());
    run.close();
    for (const std::string& p : run.user_problems()) ADD_FAILURE() << place << ": user script: " << p;
    // As --strict has it: a box the patch's script does not answer (a missing file) fails.
    for (const auto& e : run.user_log())
        if (e.value("kind", "") == "message_box" && !e.value("scripted", false))
            ADD_FAILURE() << place << ": unanswered message box: " << e.value("text", "");
}

TEST(Documentation, EveryJsonBlockRenders) {
    int count = 0;
    for (const fs::path& doc : documents()) {
        for (const auto& [line, text] : json_blocks(doc)) {
            const std::string place = fs::relative(doc, kSource).string() + ":" + std::to_string(line);
            ++count;
            try {
                const auto patch = nlohmann::json::parse(text);
                mvh::PatchRun run(patch, place, (kSource / "examples").string(), mvh::default_plugin_dirs());
                expect_renders(run, place);
            } catch (const std::exception& e) {
                ADD_FAILURE() << place << ": " << e.what();
            }
        }
    }
    EXPECT_GE(count, 8) << "the patch format, the READMEs' patches";
}

TEST(Documentation, EveryExamplePatchRendersStrictly) {
    const fs::path out = fs::temp_directory_path() / ("mv_docs_examples_" + std::to_string(::getpid()));
    fs::create_directories(out);
    int count = 0;
    for (const auto& e : fs::directory_iterator(kSource / "examples")) {
        if (e.path().extension() != ".json") continue;
        ++count;
        // A patch whose person saves a file writes it where the patch says; its own test renders it
        // (editor_bank.json: EditorExample), and two renders at once would write the same file.
        std::ifstream in(e.path());
        std::stringstream text;
        text << in.rdbuf();
        if (text.str().find("\"save_file\"") != std::string::npos) continue;
        // As `mvhost render --strict` does: every box the patch raises, closing included, is
        // answered by its script.
        mvh::RenderOptions o;
        o.patch = e.path().string();
        o.output = (out / (e.path().stem().string() + ".wav")).string();
        o.quiet = o.strict = true;
        std::ostringstream err;
        EXPECT_EQ(mvh::cmd_render(o, err), 0) << o.patch << ":\n" << err.str();
    }
    EXPECT_GE(count, 12);
    fs::remove_all(out);
}

}  // namespace
