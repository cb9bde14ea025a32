// A container engine's JSON replies as the source reads them: the container
// list and its published ports, the version and the API version chosen from
// it, an inspection's command line and state, a refusal's message. Checks
// what the readers promise: one published port per port, ascending, from 1
// to 65535, each from a container of the list; an API prefix only for a
// version that could be read.
#include "sources/containers/engine_api.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView json(reinterpret_cast<const char*>(data), qsizetype(size));

    const ContainerList list = readContainerList(json);
    if (!list.ok() && !list.containers.isEmpty())
        std::abort();
    const QList<PublishedPort> ports = publishedPorts(list.containers);
    for (qsizetype i = 0; i < ports.size(); ++i) {
        const ListeningPort& record = ports[i].record;
        if (record.port < 1 || record.port > 65535 || record.pid != 0 || !record.anyProcess)
            std::abort();
        if (i > 0 && ports[i - 1].record.port >= record.port)
            std::abort();
        if (ports[i].container < 0 || ports[i].container >= list.containers.size() ||
            list.containers[ports[i].container].name != record.process)
            std::abort();
    }
    for (const ContainerInfo& container : list.containers) {
        if (container.id.isEmpty() || container.name.isEmpty())
            std::abort();
        if (isSafeContainerId(container.id) && container.id.contains(QLatin1Char('/')))
            std::abort();
    }

    const EngineVersion engine = readEngineVersion(json);
    if (engine.ok()) {
        QString error;
        const QByteArray prefix = apiPrefix(engine, &error);
        if (prefix.isEmpty() == error.isEmpty() ||
            (!prefix.isEmpty() && !prefix.startsWith("/v1.")))
            std::abort();
    }

    (void)readCommand(json);
    (void)readRunning(json);
    if (engineMessage(json).size() > 200)
        std::abort();
    return 0;
}
