#include "sources/registry.h"

#include "sources/containers/container_source.h"
#include "sources/lsof/lsof_source.h"
#include "sources/proc/proc_source.h"

QList<SourceSpec> sourcesFor(const settings::Values& values) {
    QList<SourceSpec> sources;
    // Containers first: a published port is the container's, whichever proxy
    // process holds it on the host.
    if (values.containers)
        sources.append({QStringLiteral("containers"),
                        [] { return std::make_unique<ContainerSource>(); }, false});
    if (values.lister == settings::lsofLister)
        sources.append({QStringLiteral("lsof"), [] { return std::make_unique<LsofSource>(); }});
    else
        sources.append({QStringLiteral("proc"), [] { return std::make_unique<ProcSource>(); }});
    return sources;
}

QString sourceIdentity(const settings::Values& values) {
    QStringList ids;
    for (const SourceSpec& spec : sourcesFor(values))
        ids.append(spec.id);
    return ids.join(QLatin1Char('+'));
}
