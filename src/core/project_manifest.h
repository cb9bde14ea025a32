#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

// A project's own name, as its manifest file gives it. Text in, name out:
// nothing here reads a file (see projectOf() in server_details.h).

// The manifest files that can name a project, in the order they are asked.
const QStringList& manifestFiles();

// The name that a manifest's text gives, by the manifest's file name:
// - "package.json", "composer.json": the string "name" of the top object
//   ("@shop/web", "acme/shop");
// - "pyproject.toml": [project] name, else [tool.poetry] name;
// - "Cargo.toml": [package] name (a workspace's root has none);
// - "go.mod": the last element of the module path, a major version suffix
//   aside ("example.com/ann/shop/v2" gives "shop").
// Empty when the text gives none, does not parse, or the name cannot be shown
// as one (empty, longer than 214 characters, or holding a control character).
// Surrounding white space is dropped.
QString manifestName(const QString& fileName, QByteArrayView text);

// The string at `path` (a table's keys, then the key) in TOML text: what
// "[tool.poetry]\nname = \"shop\"" gives for {"tool", "poetry", "name"}.
// Reads tables, dotted and quoted keys, the four kinds of strings and
// comments, and steps over every other value (arrays and inline tables too,
// across lines); none when the key is absent, is no string, or the text
// stops making sense before it.
std::optional<QString> tomlString(QByteArrayView text, const QStringList& path);
