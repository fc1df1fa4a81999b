// Expanding a large folder in the window's tree: a folder of FOLDERS subfolders of FILES files
// each (default 300 x 300), expanded RUNS times (default 5). Prints the best time per 100
// subfolders, and for comparison the time a listing with attributes of every subfolder
// takes (what a subfolder test that looks at every entry costs).
//   expand_bench [FOLDERS [FILES [RUNS]]]
#include "app/Application.h"
#include "app/Main.h"
#include "platform/Platform.h"

#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class Silent : public th::UserMessages {
public:
    bool Ask(const std::string&) override { return false; }
    void Message(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
};

double Millis(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace

int main(int argc, char** argv) {
    const int folders = argc > 1 ? std::atoi(argv[1]) : 300;
    const int files = argc > 2 ? std::atoi(argv[2]) : 300;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
    if (folders <= 0 || files < 0 || runs <= 0) {
        std::fprintf(stderr, "usage: expand_bench [FOLDERS [FILES [RUNS]]]\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    th::TApplication app(argc, argv);

    const fs::path root =
        fs::temp_directory_path() / ("expand-bench-" + std::to_string(::getpid()));
    const fs::path big = root / "Big";
    for (int d = 0; d < folders; ++d) {
        const fs::path sub = big / ("folder" + std::to_string(d));
        fs::create_directories(sub);
        for (int f = 0; f < files; ++f)
            std::ofstream(sub / ("take" + std::to_string(f) + ".wav")) << 'x';
    }
    platform::MapDrive("D:", root.string());

    double bestExpand = 1e300;
    double bestListing = 1e300;
    {
        Silent messages;
        th::TMAIN_FORM form(messages);
        form.SelectFolder("D:");
        QTreeWidgetItem* node = form.TreeView->currentItem();
        for (int i = 0; i < node->childCount(); ++i)
            if (node->child(i)->text(0) == "Big")
                node = node->child(i);
        for (int r = 0; r < runs; ++r) {
            qDeleteAll(node->takeChildren());
            const auto t0 = std::chrono::steady_clock::now();
            form.AddFolderNodes(node, "D:\\Big");
            bestExpand = std::min(bestExpand, Millis(std::chrono::steady_clock::now() - t0));
            if (node->childCount() != folders) {
                std::fprintf(stderr, "expected %d children, got %d\n", folders, node->childCount());
                return 1;
            }
        }
        for (int r = 0; r < runs; ++r) {
            const auto t0 = std::chrono::steady_clock::now();
            std::size_t entries = 0;
            for (int d = 0; d < folders; ++d)
                entries +=
                    platform::ListDirectory("D:\\Big\\folder" + std::to_string(d) + "\\*.*").size();
            bestListing = std::min(bestListing, Millis(std::chrono::steady_clock::now() - t0));
            if (entries == 0)
                return 1;
        }
    }
    platform::UnmapDrive("D:");
    fs::remove_all(root);

    std::printf("%d subfolders of %d files, best of %d\n", folders, files, runs);
    std::printf("expand:                 %8.2f ms  (%6.2f ms per 100 subfolders)\n", bestExpand,
                bestExpand * 100.0 / folders);
    std::printf("listing every subfolder: %7.2f ms  (%6.2f ms per 100 subfolders)\n", bestListing,
                bestListing * 100.0 / folders);
    return 0;
}
