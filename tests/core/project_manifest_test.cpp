#include "core/project_manifest.h"

#include <gtest/gtest.h>

TEST(ProjectManifest, NameIsWhatTheManifestSays) {
    const struct {
        const char* file;
        QByteArray text;
        QString name;
    } rows[] = {
        {"package.json", R"({"name": "shop", "version": "1.0.0"})", "shop"},
        {"package.json", "\xEF\xBB\xBF{\"name\": \"@shop/web\"}", "@shop/web"},
        {"package.json", R"({"private": true})", {}},
        {"package.json", R"({"name": 7})", {}},
        {"package.json", R"({"name": "shop",)", {}},
        {"package.json", R"(["name", "shop"])", {}},
        {"package.json", R"({"name": "  spaced  "})", "spaced"},
        {"package.json", R"({"name": "two\nlines"})", {}},
        {"package.json", "{\"name\": \"" + QByteArray(215, 'a') + "\"}", {}},
        {"composer.json", R"({"name": "acme/shop"})", "acme/shop"},
        {"pyproject.toml", "[project]\nname = \"api\"\n", "api"},
        {"pyproject.toml", "[tool.poetry]\nname = 'poetic'  # the app\n", "poetic"},
        {"pyproject.toml", "[project]\nversion = \"1\"\n[tool.poetry]\nname = \"second\"\n",
         "second"},
        {"pyproject.toml", "[ project ]\n\"name\" = \"quoted\\u00e9\"\n", "quotedé"},
        {"pyproject.toml", "project.name = \"dotted\"\n", "dotted"},
        // What looks like a table or a key inside a string or an array is not.
        {"pyproject.toml",
         "[project]\ndescription = \"\"\"\n[package]\nname = \"no\"\n\"\"\"\n"
         "authors = [\n  {name = \"Ann\"},  # first\n  [\"x\"],\n]\nname = \"yes\"\n",
         "yes"},
        {"pyproject.toml", "[tool.black]\nname = \"no\"\n", {}},
        {"pyproject.toml", "[[project]]\nname = \"no\"\n", {}},
        {"pyproject.toml", "[project]\nname = [\"no\"]\n", {}},
        {"pyproject.toml", "[project\nname = \"no\"\n", {}},
        {"pyproject.toml", "[project]\nname = \"unterminated\n", {}},
        {"pyproject.toml", "[project]\nname = \"bad \\q escape\"\n", {}},
        {"Cargo.toml", "[package]\r\nname = \"rusty\"\r\nedition = \"2021\"\r\n", "rusty"},
        {"Cargo.toml", "[workspace]\nmembers = [\"crates/*\"]\n", {}},
        {"go.mod", "// the server\nmodule example.com/ann/shop\n\ngo 1.22\n", "shop"},
        {"go.mod", "module \"example.com/ann/shop/v2\" // moved\n", "shop"},
        {"go.mod", "module gopkg.in/yaml.v3\n", "yaml.v3"},
        {"go.mod", "module shop\n", "shop"},
        {"go.mod", "go 1.22\n", {}},
        {"Gemfile", "name = \"no\"\n", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.file) + ": " + row.text.left(60).toStdString());
        EXPECT_EQ(manifestName(QString::fromLatin1(row.file), row.text), row.name);
    }
}
