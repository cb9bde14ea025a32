#include "core/frameworks.h"

#include <QDir>
#include <QList>
#include <QStringView>

#include <string_view>
#include <vector>

namespace {

// How a rule recognises its framework.
enum class Match {
    // `name` names one of the command's programs (see Program); when `after` is
    // set, one of its words must be among the arguments that follow that program.
    Program,
    // `name` is one of the arguments, wherever it stands: for words no other
    // program takes ("phx.server", "spring-boot:run").
    Argument,
    // A jar on a Java class path has a base name that starts with `name`.
    ClassPath,
};

// A name ending in "*" matches anything that starts with the rest. A program
// name with slashes matches the last folders of the program's path as well.
struct Rule {
    Match match;
    std::string_view name;
    std::vector<std::string_view> after = {};
    // Program only: the working folder must be this folder beside the program.
    std::string_view folder = {};
};

struct Framework {
    std::string_view name; // as shown in the menu
    std::vector<Rule> rules;
};

// The frameworks in the order they are tried: where two could claim one command
// line, the more specific comes first (Storybook and Remix run Vite inside,
// Laravel runs PHP's server, Rails runs Puma).
const std::vector<Framework>& frameworks() {
    static const std::vector<Framework> table = {
        {"Storybook",
         {{Match::Program, "storybook", {"dev"}}, {Match::Program, "start-storybook"}}},
        {"Remix", {{Match::Program, "remix"}, {Match::Program, "remix-serve"}}},
        {"Next.js", {{Match::Program, "next"}, {Match::Program, "next-server"}}},
        {"Nuxt",
         {{Match::Program, "nuxi"}, {Match::Program, "nuxt"}, {Match::Program, "nuxt-cli"}}},
        {"Astro", {{Match::Program, "astro", {"dev", "preview"}}}},
        {"Angular", {{Match::Program, "ng", {"serve", "s", "dev"}}}},
        {"Create React App",
         {{Match::Program, "react-scripts", {"start"}},
          {Match::Program, "react-scripts/scripts/start"}}},
        {"Vite", {{Match::Program, "vite"}}},
        // webpack's dev server renames its process "webpack", dropping "serve".
        {"webpack",
         {{Match::Program, "webpack-dev-server"},
          {Match::Program, "webpack"},
          {Match::Program, "webpack-cli", {"serve", "server", "s"}}}},
        {"Django",
         {{Match::Program, "manage.py", {"runserver", "runserver_plus"}},
          {Match::Program, "django-admin", {"runserver", "runserver_plus"}},
          {Match::Program, "django", {"runserver"}}}},
        {"Flask", {{Match::Program, "flask", {"run"}}}},
        {"FastAPI", {{Match::Program, "fastapi", {"dev", "run"}}}},
        {"uvicorn", {{Match::Program, "uvicorn"}}},
        {"gunicorn", {{Match::Program, "gunicorn"}}},
        {"Jupyter",
         {{Match::Program, "jupyter-notebook"},
          {Match::Program, "jupyter-lab"},
          {Match::Program, "jupyter-server"},
          {Match::Program, "jupyter-nbclassic"},
          {Match::Program, "jupyter", {"notebook", "lab", "server", "nbclassic"}},
          {Match::Program, "notebook"},
          {Match::Program, "jupyterlab"},
          {Match::Program, "jupyter_server"},
          {Match::Program, "nbclassic"}}},
        {"Rails", {{Match::Program, "rails", {"server", "s"}}}},
        // Puma names its process "puma <version> (<binds>) [<tag>]", also when
        // Rails started it.
        {"Puma", {{Match::Program, "puma"}}},
        {"Phoenix", {{Match::Argument, "phx.server"}}},
        // "java -jar app.jar" alone says nothing: the jar's manifest is not read.
        {"Spring Boot",
         {{Match::Argument, "spring-boot:run"},
          {Match::Argument, "bootRun"},
          {Match::Argument, "--spring.*"},
          {Match::Program, "org.springframework.boot.loader.*"},
          {Match::ClassPath, "spring-boot"}}},
        {"Hugo", {{Match::Program, "hugo", {"server", "serve"}}}},
        {"Jekyll", {{Match::Program, "jekyll", {"serve", "server", "s"}}}},
        // "artisan serve" runs "php -S" with a router: its own "server.php" run
        // from the "public" folder beside it, or else the framework's.
        {"Laravel",
         {{Match::Program, "artisan", {"serve"}},
          {Match::Program, "Illuminate/Foundation/resources/server.php"},
          {Match::Program, "server.php", {}, "public"}}},
        {"PHP", {{Match::Program, "php", {"-S*"}}}},
        {"http.server", {{Match::Program, "http.server"}, {Match::Program, "SimpleHTTPServer"}}},
    };
    return table;
}

// A program that runs another one named on its command line: an interpreter
// and its script, or a runner and the command it runs.
struct Launcher {
    std::vector<std::string_view> names; // base names, any version ending aside
    // One of these words must come first ("npm exec"); empty: none.
    std::vector<std::string_view> subcommands = {};
    std::vector<std::string_view> withValue = {};   // options whose value is the next argument
    std::vector<std::string_view> programNext = {}; // options whose value is the program
    std::vector<std::string_view> stops = {};       // options after which no program follows
    bool skipsAssignments = false;                  // NAME=value words come before the program
};

const std::vector<Launcher>& launchers() {
    static const std::vector<Launcher> table = {
        {{"node", "nodejs", "bun"},
         {},
         {"-r", "--require", "--import", "--loader", "--experimental-loader", "-C", "--conditions"},
         {},
         {"-e", "--eval", "-p", "--print"}},
        {{"python", "pypy"}, {}, {"-W", "-X"}, {"-m"}, {"-c"}},
        {{"ruby"}, {}, {"-I", "-r", "-C", "-E"}, {"-S"}, {"-e"}},
        {{"php"}, {}, {"-c", "-d", "-z", "-t", "-S"}, {"-f"}, {"-r", "-R", "-B", "-E"}},
        {{"java"},
         {},
         {"-cp", "-classpath", "--class-path", "-p", "--module-path", "--add-modules"},
         {"-jar", "-m", "--module"}},
        {{"npx", "pnpx", "bunx"}, {}, {"-p", "--package"}, {}, {"-c", "--call"}},
        {{"npm", "pnpm", "yarn"}, {"exec", "x", "dlx"}, {"-p", "--package"}, {}, {"-c", "--call"}},
        {{"bundle", "bundler"}, {"exec"}},
        {{"poetry", "pipenv", "uv"}, {"run"}},
        {{"env"}, {}, {"-u", "--unset", "-C", "--chdir"}, {}, {}, true},
    };
    return table;
}

QLatin1String latin(std::string_view text) {
    return QLatin1String(text.data(), static_cast<qsizetype>(text.size()));
}

bool contains(const std::vector<std::string_view>& words, QStringView word) {
    for (std::string_view w : words)
        if (word == latin(w))
            return true;
    return false;
}

QStringView baseName(QStringView path) {
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// The name without a version ending: "python3.11" -> "python", "php8.2" -> "php".
QStringView withoutVersion(QStringView name) {
    qsizetype end = name.size();
    while (end > 0 && (name[end - 1].isDigit() || name[end - 1] == QLatin1Char('.')))
        --end;
    return name.first(end);
}

// Whether `pattern` ("vite", "php", "org.springframework.boot.loader.*") names
// the program with this base name ("vite.js", "php8.2", ...).
bool nameMatches(QLatin1String pattern, QStringView name) {
    if (pattern.endsWith(QLatin1Char('*')))
        return name.startsWith(pattern.chopped(1));
    if (!name.startsWith(pattern))
        return false;
    const QStringView rest = name.mid(pattern.size());
    if (rest.isEmpty() || rest == u".js" || rest == u".mjs" || rest == u".cjs")
        return true;
    return rest.front().isDigit() && withoutVersion(rest).isEmpty();
}

// One of the programs the command line runs: the path (or module or class name)
// as written, and where the arguments that follow it start.
struct Program {
    QString path;
    qsizetype arguments = 0;
};

struct Command {
    QStringList words;
    QList<Program> programs;
    QStringList classPath; // the entries of Java's class path options
};

// The arguments without the empty ones; a rewritten title as its words, the
// colon that ends its first one ("gunicorn: master") left out.
QStringList wordsOf(const QStringList& arguments) {
    QStringList words;
    for (const QString& argument : arguments)
        if (!argument.isEmpty())
            words.append(argument);
    if (words.size() == 1 && words.first().contains(QLatin1Char(' '))) {
        words = words.first().simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (!words.isEmpty() && words.first().size() > 1 &&
            words.first().endsWith(QLatin1Char(':')))
            words.first().chop(1);
    }
    return words;
}

const Launcher* launcherOf(QStringView program) {
    const QStringView name = withoutVersion(baseName(program));
    for (const Launcher& launcher : launchers())
        if (contains(launcher.names, name))
            return &launcher;
    return nullptr;
}

// Where the program that the launcher runs stands among the words after it
// (from `from` on); -1 when there is none. Java's class path goes to `command`.
qsizetype launchedProgram(const Launcher& launcher, Command& command, qsizetype from) {
    const QStringList& words = command.words;
    qsizetype i = from;
    if (!launcher.subcommands.empty()) {
        if (i >= words.size() || !contains(launcher.subcommands, words[i]))
            return -1;
        ++i;
    }
    for (; i < words.size(); ++i) {
        const QString& word = words[i];
        if (word == u"--")
            return i + 1 < words.size() ? i + 1 : -1;
        if (!word.startsWith(QLatin1Char('-')) || word == u"-") {
            if (launcher.skipsAssignments && word.contains(QLatin1Char('=')))
                continue;
            return i;
        }
        const qsizetype equals = word.indexOf(QLatin1Char('='));
        const QStringView option = QStringView(word).first(equals < 0 ? word.size() : equals);
        const bool classPath =
            option == u"-cp" || option == u"-classpath" || option == u"--class-path";
        if (classPath && equals >= 0)
            command.classPath += word.mid(equals + 1).split(QLatin1Char(':'));
        if (equals >= 0)
            continue;
        if (contains(launcher.stops, option))
            return -1;
        if (contains(launcher.programNext, option))
            return i + 1 < words.size() ? i + 1 : -1;
        if (contains(launcher.withValue, option) && i + 1 < words.size()) {
            ++i;
            if (classPath)
                command.classPath += words[i].split(QLatin1Char(':'));
        }
    }
    return -1;
}

Command commandOf(const QStringList& arguments, const QString& executable) {
    Command command;
    command.words = wordsOf(arguments);
    qsizetype i = command.words.isEmpty() ? -1 : 0;
    while (i >= 0 && i < command.words.size()) {
        command.programs.append({command.words[i], i + 1});
        const Launcher* launcher = launcherOf(command.words[i]);
        i = launcher ? launchedProgram(*launcher, command, i + 1) : -1;
    }
    if (!executable.isEmpty())
        command.programs.append({executable, 1});
    return command;
}

// Whether the program's path ends with the pattern's folders and name:
// "react-scripts/scripts/start" matches ".../react-scripts/scripts/start.js".
bool pathMatches(std::string_view pattern, const QString& path, const QString& folder) {
    const size_t slash = pattern.rfind('/');
    if (slash == std::string_view::npos)
        return nameMatches(latin(pattern), baseName(path));
    const QString full = QDir::cleanPath(
        path.startsWith(QLatin1Char('/')) || folder.isEmpty() ? path : folder + u'/' + path);
    const qsizetype cut = full.lastIndexOf(QLatin1Char('/'));
    if (cut < 0 || !nameMatches(latin(pattern.substr(slash + 1)), QStringView(full).mid(cut + 1)))
        return false;
    const QLatin1String folders = latin(pattern.substr(0, slash));
    const QStringView parent = QStringView(full).first(cut);
    return parent.endsWith(folders) &&
           (parent.size() == folders.size() ||
            parent[parent.size() - folders.size() - 1] == QLatin1Char('/'));
}

bool wordMatches(QLatin1String pattern, QStringView word) {
    return pattern.endsWith(QLatin1Char('*')) ? word.startsWith(pattern.chopped(1))
                                              : word == pattern;
}

bool programRuleMatches(const Rule& rule, const Command& command, const Program& program,
                        const QString& folder) {
    if (!pathMatches(rule.name, program.path, folder))
        return false;
    if (!rule.folder.empty()) {
        if (folder.isEmpty() || !program.path.startsWith(QLatin1Char('/')))
            return false;
        const QString beside = QDir::cleanPath(
            program.path.left(program.path.lastIndexOf(u'/') + 1) + latin(rule.folder));
        if (beside != QDir::cleanPath(folder))
            return false;
    }
    if (rule.after.empty())
        return true;
    for (qsizetype i = program.arguments; i < command.words.size(); ++i)
        for (std::string_view word : rule.after)
            if (wordMatches(latin(word), command.words[i]))
                return true;
    return false;
}

bool ruleMatches(const Rule& rule, const Command& command, const QString& folder) {
    switch (rule.match) {
    case Match::Program:
        for (const Program& program : command.programs)
            if (programRuleMatches(rule, command, program, folder))
                return true;
        return false;
    case Match::Argument:
        for (const QString& word : command.words)
            if (wordMatches(latin(rule.name), word))
                return true;
        return false;
    case Match::ClassPath:
        for (const QString& entry : command.classPath) {
            const QStringView name = baseName(entry);
            if (name.startsWith(latin(rule.name)) && name.endsWith(u".jar"))
                return true;
        }
        return false;
    }
    return false;
}

bool isFalse(QStringView value) {
    return value == u"false" || value == u"0" || value == u"no" || value == u"off";
}

} // namespace

QString detectFramework(const QStringList& arguments, const QString& executable,
                        const QString& folder) {
    const Command command = commandOf(arguments, executable);
    if (command.programs.isEmpty())
        return {};
    for (const Framework& framework : frameworks())
        for (const Rule& rule : framework.rules)
            if (ruleMatches(rule, command, folder))
                return latin(framework.name);
    return {};
}

bool servesHttps(const QStringList& arguments) {
    // Options that turn HTTPS on unless given a false value.
    static const std::vector<std::string_view> switches = {"--https", "--ssl",
                                                           "--experimental-https", "--tlsAuto"};
    // Options that name a certificate or its key.
    static const std::vector<std::string_view> files = {"--cert",
                                                        "--key",
                                                        "--certfile",
                                                        "--keyfile",
                                                        "--cert-file",
                                                        "--key-file",
                                                        "--ssl-cert",
                                                        "--ssl-key",
                                                        "--ssl-certfile",
                                                        "--ssl-keyfile",
                                                        "--ssl_certfile",
                                                        "--ssl_keyfile",
                                                        "--tlsCertFile",
                                                        "--tlsKeyFile",
                                                        "--experimental-https-cert",
                                                        "--experimental-https-key"};
    const QStringList words = wordsOf(arguments);
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString& word = words[i];
        if (word.contains(u"ssl_certfile") || word.contains(u"ssl://"))
            return true;
        if (!word.startsWith(u"--"))
            continue;
        const qsizetype equals = word.indexOf(QLatin1Char('='));
        const QStringView option = QStringView(word).first(equals < 0 ? word.size() : equals);
        const QStringView given = equals < 0 ? QStringView() : QStringView(word).mid(equals + 1);
        const QStringView next = i + 1 < words.size() ? QStringView(words[i + 1]) : QStringView();
        if (contains(switches, option) && !isFalse(equals < 0 ? next : given))
            return true;
        if (contains(files, option))
            return true;
        if (option == u"--server-type" && (equals < 0 ? next : given) == u"https")
            return true;
    }
    return false;
}
