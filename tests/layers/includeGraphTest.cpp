// The tool's own includes form no circle: no file includes, directly or
// through others, a file that includes it back. A header and its source are
// one node: a source that includes the header of a file whose source
// includes its own header closes a circle too. Which layer may include
// which is kept by the build itself (see diagnostic-tool/CMakeLists.txt).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using IncludeGraph = std::map<std::string, std::vector<std::string>>;

const fs::path toolDir = TOOL_SOURCE_DIR;

// The quoted includes of one file, as written: "layer/file.h".
std::vector<std::string> quotedIncludes(const fs::path& file)
{
    static const std::regex include(R"re(^\s*#\s*include\s*"([^"]+)")re");
    std::vector<std::string> includes;
    std::ifstream in(file);
    std::smatch match;
    for (std::string line; std::getline(in, line);)
        if (std::regex_search(line, match, include))
            includes.push_back(match[1]);
    return includes;
}

// A header or source by its path below diagnostic-tool without the extension: "layer/file".
std::string moduleOf(const fs::path& file)
{
    return fs::path(file).replace_extension().generic_string();
}

// What each module of the tool includes, its header and its source together.
IncludeGraph toolIncludeGraph()
{
    IncludeGraph graph;
    for (const auto& entry : fs::recursive_directory_iterator(toolDir)) {
        const std::string extension = entry.path().extension().string();
        if (extension != ".h" && extension != ".cpp")
            continue;
        const std::string module = moduleOf(entry.path().lexically_relative(toolDir));
        for (const std::string& included : quotedIncludes(entry.path()))
            if (moduleOf(included) != module)
                graph[module].push_back(moduleOf(included));
        graph.try_emplace(module);
    }
    return graph;
}

// Depth-first walk; returns the chain of files that leads back to one on the current path.
bool findCircle(const IncludeGraph& graph, const std::string& file, std::map<std::string, int>& state,
                std::vector<std::string>& path)
{
    enum { Unvisited, OnPath, Done };
    state[file] = OnPath;
    path.push_back(file);
    if (const auto node = graph.find(file); node != graph.end()) {
        for (const std::string& included : node->second) {
            if (state[included] == OnPath) {
                path.push_back(included);
                return true;
            }
            if (state[included] == Unvisited && findCircle(graph, included, state, path))
                return true;
        }
    }
    path.pop_back();
    state[file] = Done;
    return false;
}

TEST(IncludeGraph, CoversTheWholeTool)
{
    const IncludeGraph graph = toolIncludeGraph();
    EXPECT_TRUE(graph.contains("diagnostics/diagnostics"));
    EXPECT_TRUE(graph.contains("pcscWrapper/scard"));
    EXPECT_TRUE(graph.contains("app/main"));
}

TEST(IncludeGraph, HasNoCircle)
{
    const IncludeGraph graph = toolIncludeGraph();
    std::map<std::string, int> state;
    for (const auto& [file, includes] : graph) {
        std::vector<std::string> path;
        if (state[file] == 0 && findCircle(graph, file, state, path)) {
            const auto circleStart = std::find(path.begin(), path.end(), path.back());
            FAIL() << "include circle: " << testing::PrintToString(std::vector(circleStart, path.end()));
        }
    }
}

// A relative include would reach past the include roots that keep the layers apart.
TEST(IncludeGraph, NamesEveryHeaderFromItsLayer)
{
    for (const auto& entry : fs::recursive_directory_iterator(toolDir))
        for (const std::string& included : quotedIncludes(entry.path()))
            EXPECT_EQ(included.find(".."), std::string::npos) << entry.path() << " includes " << included;
}

}  // namespace
