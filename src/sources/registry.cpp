#include "sources/registry.h"

#include "sources/containers/container_source.h"
#include "sources/lsof/lsof_source.h"
#include "sources/proc/proc_source.h"
#include "sources/ssh/ssh_command.h"
#include "sources/ssh/ssh_source.h"

QList<SourceSpec> sourcesFor(const settings::Values& values,
                             std::shared_ptr<SshConnections> connections) {
    QList<SourceSpec> sources;
    // Containers first: a published port is the container's, whichever proxy
    // process holds it on the host.
    if (values.containers)
        sources.append({SourceId::of(SourceId::Kind::Containers),
                        [] { return std::make_unique<ContainerSource>(); }, false});
    if (values.lister == settings::lsofLister)
        sources.append(
            {SourceId::of(SourceId::Kind::Lsof), [] { return std::make_unique<LsofSource>(); }});
    else
        sources.append(
            {SourceId::of(SourceId::Kind::Proc), [] { return std::make_unique<ProcSource>(); }});
    // One per host; a host out of reach leaves only its own servers out.
    if (!values.hosts.isEmpty() && !connections)
        connections = std::make_shared<SshConnections>();
    for (const QString& host : values.hosts) {
        sources.append({SourceId::ofHost(host),
                        [host, connections] {
                            return std::make_unique<SshSource>(host, SshSourceTiming{},
                                                               connections);
                        },
                        false});
    }
    return sources;
}

Registry sourceRegistry() {
    return [connections = std::make_shared<SshConnections>()](const settings::Values& values) {
        return sourcesFor(values, connections);
    };
}

std::unique_ptr<ServerSource> hostSource(const QString& destination) {
    return std::make_unique<SshSource>(destination);
}

QString forwardStatesPath() {
    QString error;
    const QString folder = sshControlFolder(&error);
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/forwards.json");
}

QList<SourceSpec> hostSourcesFor(const QString& destination) {
    return {
        {SourceId::ofHost(destination), [destination] { return hostSource(destination); }, true}};
}
