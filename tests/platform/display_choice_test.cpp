// The display server the tray program asks Qt for, decided from the command
// line, the environment and which servers answer (stand-in probes).
#include "platform/display_choice.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Row {
    const char* what;
    DisplaySession session;
    bool xAnswers;
    bool waylandAnswers;
    QByteArray platform;
    QByteArray problem;
};

DisplaySession session(QByteArray variable, QByteArray display, QByteArray wayland,
                       QByteArray runtime = "/run/user/1000", bool argument = false) {
    return {argument, variable, display, wayland, runtime};
}

} // namespace

TEST(DisplayChoiceTest, PrefersAnAnsweringXDisplayUnlessTheUserChose) {
    const QByteArray noX = "cannot open the X display \":1\"";
    const QByteArray noWayland =
        "cannot open the Wayland display \"wayland-0\" (no compositor at /run/user/1000/wayland-0)";
    const Row rows[] = {
        {"Wayland session with Xwayland", session({}, ":1", "wayland-0"), true, true, "xcb", {}},
        {"X11 session", session({}, ":1", {}), true, false, "xcb", {}},
        {"Wayland without X", session({}, {}, "wayland-0"), false, true, {}, {}},
        {"Xwayland that does not answer", session({}, ":1", "wayland-0"), false, true, {}, {}},
        {"user chose Wayland", session("wayland", ":1", "wayland-0"), true, true, {}, {}},
        {"user chose X11", session("xcb", ":1", "wayland-0"), true, true, {}, {}},
        {"user chose a list", session("wayland;xcb", ":1", "wayland-0"), false, false, {}, {}},
        {"user chose offscreen", session("offscreen", {}, {}), false, false, {}, {}},
        {"-platform argument", session({}, {}, {}, {}, true), false, false, {}, {}},
        {"nothing",
         session({}, {}, {}),
         false,
         false,
         {},
         "no graphical session (DISPLAY and WAYLAND_DISPLAY are unset)"},
        {"dead X display", session({}, ":1", {}), false, false, {}, noX},
        {"X11 chosen, no DISPLAY",
         session("xcb", {}, "wayland-0"),
         false,
         true,
         {},
         "no X display (DISPLAY is unset)"},
        {"X11 chosen, dead X", session("xcb", ":1", "wayland-0"), false, true, {}, noX},
        {"dead Wayland socket", session({}, {}, "wayland-0"), false, false, {}, noWayland},
        {"dead Wayland socket and dead X",
         session({}, ":1", "wayland-0"),
         false,
         false,
         {},
         noWayland + " nor the X display \":1\""},
        {"dead Wayland socket, X answers", session({}, ":1", "wayland-0"), true, false, "xcb", {}},
        {"Wayland chosen, dead socket",
         session("wayland", ":1", "wayland-0"),
         true,
         false,
         {},
         noWayland},
        {"Wayland chosen, default name", session("wayland", {}, {}), false, false, {}, noWayland},
        {"absolute socket path",
         session({}, {}, "/tmp/w"),
         false,
         false,
         {},
         "cannot open the Wayland display \"/tmp/w\" (no compositor at /tmp/w)"},
        {"no runtime folder",
         session({}, {}, "wayland-0", {}),
         false,
         true,
         {},
         "cannot open the Wayland display \"wayland-0\" (XDG_RUNTIME_DIR is unset)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const DisplayProbes probes{
            [&row](const QByteArray& display) { return display == ":1" && row.xAnswers; },
            [&row](const QByteArray&) { return row.waylandAnswers; }};
        const DisplayChoice choice = chooseDisplay(row.session, probes);
        EXPECT_EQ(choice.platform.toStdString(), row.platform.toStdString());
        EXPECT_EQ(choice.problem.toStdString(), row.problem.toStdString());
    }
}

TEST(DisplayChoiceTest, ThePlatformGoesToQtOnTheCommandLineOnly) {
    char program[] = "harborwatch";
    char option[] = "--settings";
    char* argv[] = {program, option, nullptr};

    QtCommandLine chosen(2, argv, "xcb");
    ASSERT_EQ(chosen.argc(), 4);
    const std::string expected[] = {"harborwatch", "-platform", "xcb", "--settings"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(chosen.argv()[i], expected[i]);
    EXPECT_EQ(chosen.argv()[4], nullptr);

    QtCommandLine unchanged(2, argv, {});
    ASSERT_EQ(unchanged.argc(), 2);
    EXPECT_EQ(unchanged.argv()[0], argv[0]);
    EXPECT_EQ(unchanged.argv()[1], argv[1]);
}
