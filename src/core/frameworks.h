#pragma once

#include <QString>
#include <QStringList>

// The web framework or development server that a listed server's process runs,
// as a short name for the menu ("Vite", "Next.js", "Django", "http.server"...);
// empty when the command line does not say. Nothing is read from the disk and
// nothing is guessed from the port: only the command line counts.
//
// `arguments` is the command line as /proc/<pid>/cmdline splits it; a process
// that rewrote its title ("next-server (v16.5.0)", "gunicorn: master [app]",
// "puma 5.6.5 (tcp://...) [shop]") gives one argument with spaces, which is
// read as words; empty arguments (the padding such a title leaves) are ignored.
//
// The command is followed through the programs that run other programs: an
// interpreter (node, python3, ruby, php, java...), "npx"/"npm exec"/"pnpm
// exec"/"yarn exec", "bundle exec", "env", "poetry run". Each program met on the
// way (the interpreter, its script, a "-m" module, a Java main class or -jar
// file) is matched by its base name, a ".js", ".mjs" or ".cjs" ending and a
// version ending ("php8.2", "python3.11") aside: ".../node_modules/.bin/vite",
// ".../node_modules/vite/bin/vite.js" and "npx vite" are all Vite, while a
// folder named "invite" or "vim vite.config.js" is nothing.
//
// `executable` (the target of /proc/<pid>/exe) counts as a program too, for a
// process started under another name. `folder` (the working folder) completes
// relative script paths, and tells the router that "php artisan serve" gives
// the PHP server: Laravel's "server.php" run from the "public" folder beside it.
QString detectFramework(const QStringList& arguments, const QString& executable = {},
                        const QString& folder = {});

// Whether the command line asks the server for HTTPS. What counts (an option
// matches as "--name" or "--name=value"):
// - "--https", "--ssl", "--experimental-https" (Vite, webpack, Nuxt, Angular,
//   Next.js), unless given the value "false", "0", "no" or "off" (after "=" or
//   as the next argument);
// - a certificate or key option: "--cert", "--key", "--certfile",
//   "--keyfile", "--cert-file", "--key-file", "--ssl-cert", "--ssl-key",
//   "--ssl-certfile", "--ssl-keyfile", "--ssl_certfile", "--ssl_keyfile",
//   "--experimental-https-cert", "--experimental-https-key", "--tlsCertFile",
//   "--tlsKeyFile", "--tlsAuto" (Flask, uvicorn, gunicorn, Jupyter, Jekyll,
//   Angular, Next.js, Hugo);
// - "--server-type https" or "--server-type=https" (webpack dev server);
// - an argument that contains "ssl_certfile" (a uvicorn or gunicorn setting
//   given in a "-c" or config argument) or "ssl://" (a Puma bind, also in
//   Puma's rewritten title).
// A rewritten title keeps only what its program put in it: gunicorn's and
// webpack's titles drop the options, so their HTTPS goes unseen.
bool servesHttps(const QStringList& arguments);
