// What a look's answer costs the thread that asked for it once the page is in:
// the title of a page as large as a look reads, the title at its end behind
// scripts, comments and character references. And a project's name from a
// pyproject.toml of a realistic size, read once per new server.
#include "core/project_manifest.h"
#include "probe/page_title.h"

#include <benchmark/benchmark.h>

namespace {

void BM_PageTitleOfAFullRead(benchmark::State& state) {
    QByteArray page = "<!doctype html><html><head><meta charset=\"utf-8\">";
    while (page.size() < 64 * 1024 - 200)
        page += "<script>var a = '<b>&amp;</b>';</script><!-- <title>no</title> -->\n"
                "<link rel=\"stylesheet\" href=\"/assets/index-4f2a9c.css\">\n";
    page += "<title>Shop &amp; Co &#x2014; Dashboard</title></head>";
    page.truncate(64 * 1024);
    for (auto _ : state)
        benchmark::DoNotOptimize(pageTitle(page, "text/html; charset=utf-8"));
    state.SetBytesProcessed(state.iterations() * page.size());
}
BENCHMARK(BM_PageTitleOfAFullRead);

void BM_ProjectNameFromPyproject(benchmark::State& state) {
    QByteArray text = "[build-system]\nrequires = [\"setuptools>=61\"]\n\n[tool.ruff]\n"
                      "line-length = 100\nselect = [\"E\", \"F\", \"I\"]\n\n";
    for (int i = 0; i < 40; ++i)
        text += "[tool.section" + QByteArray::number(i) +
                "]\nkey = \"value\"  # a comment\nlist = [1, 2, {a = \"b\"}]\n";
    text += "[project]\nname = \"api\"\nversion = \"1.0\"\n";
    for (auto _ : state)
        benchmark::DoNotOptimize(manifestName(QStringLiteral("pyproject.toml"), text));
    state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(BM_ProjectNameFromPyproject);

} // namespace
