#pragma once

#include <QLatin1StringView>
#include <QStringView>

#include <algorithm>
#include <array>
#include <functional>

// Whether a process of this name holds ports on the host for a container
// engine: Docker's userland proxy and daemon, rootless Docker's and Podman's
// port forwarders, and Podman's container monitor (which keeps a rootful
// container's published ports reserved).
inline bool isEngineProxy(QStringView process) {
    static constexpr std::array<QLatin1StringView, 8> names = {
        QLatin1StringView("docker-proxy"), QLatin1StringView("dockerd"),
        QLatin1StringView("rootlesskit"),  QLatin1StringView("rootlessport"),
        QLatin1StringView("slirp4netns"),  QLatin1StringView("pasta"),
        QLatin1StringView("pasta.avx2"),   QLatin1StringView("conmon"),
    };
    return std::any_of(names.begin(), names.end(),
                       [process](QLatin1StringView name) { return process == name; });
}

// A source of the ports that container engines publish (the container
// source). Merging the sources, a port that an engine's proxy holds but the
// source does not list yet is held back while the source asks its engines
// again, so that the port is told as its container's, not as the proxy's.
class ContainerEngines {
public:
    virtual ~ContainerEngines() = default;

    // Asks every engine for its containers again at once. `done` runs on the
    // calling thread, never inside relist(), once each engine has answered or
    // failed; a scan started then lists what they said. Destroying the source
    // drops `done`.
    virtual void relist(std::function<void()> done) = 0;
};
