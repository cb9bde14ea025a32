<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de" sourcelanguage="en">
    <context>
        <name>AboutTab</name>
        <message>
            <source>Harborwatch</source>
            <translation>Harborwatch</translation>
        </message>
        <message>
            <source>Version %1</source>
            <translation>Version %1</translation>
        </message>
        <message>
            <source>A simple menu bar app to monitor local development servers and the ports they're running on.</source>
            <translation>Ein einfaches Programm für die Menüleiste, das lokale Entwicklungsserver und ihre Ports im Blick behält.</translation>
        </message>
        <message>
            <source>Created by Vesk</source>
            <translation>Erstellt von Vesk</translation>
        </message>
    </context>
    <context>
        <name>Autostart</name>
        <message>
            <source>%1 could not be removed: %2</source>
            <translation>%1 konnte nicht entfernt werden: %2</translation>
        </message>
        <message>
            <source>the program's path %1 cannot be written in a desktop entry</source>
            <translation>der Pfad des Programms %1 lässt sich nicht in einen Desktop-Eintrag schreiben</translation>
        </message>
        <message>
            <source>the folder %1 could not be made</source>
            <translation>der Ordner %1 konnte nicht angelegt werden</translation>
        </message>
        <message>
            <source>%1 could not be written: %2</source>
            <translation>%1 konnte nicht geschrieben werden: %2</translation>
        </message>
    </context>
    <context>
        <name>ChangePolicy</name>
        <message numerus="yes">
            <source>%n more</source>
            <translation>
                <numerusform>%n weiterer</numerusform>
                <numerusform>%n weitere</numerusform>
            </translation>
        </message>
        <message>
            <source>%1 and %2</source>
            <translation>%1 und %2</translation>
        </message>
        <message>
            <source>, </source>
            <translation>, </translation>
        </message>
        <message>
            <source>%1 on port %2</source>
            <translation>%1 auf Port %2</translation>
        </message>
        <message>
            <source>Port %1 is no longer listening</source>
            <translation>Port %1 lauscht nicht mehr</translation>
        </message>
        <message>
            <source>Ports Started</source>
            <translation>Ports gestartet</translation>
        </message>
        <message>
            <source>Port Started</source>
            <translation>Port gestartet</translation>
        </message>
        <message>
            <source>Ports Stopped</source>
            <translation>Ports beendet</translation>
        </message>
        <message>
            <source>Ports %1 are no longer listening</source>
            <translation>Die Ports %1 lauschen nicht mehr</translation>
        </message>
        <message>
            <source>Port Stopped</source>
            <translation>Port beendet</translation>
        </message>
        <message>
            <source>%1 on %2</source>
            <translation>%1 auf %2</translation>
        </message>
        <message>
            <source>Open</source>
            <translation>Öffnen</translation>
        </message>
    </context>
    <context>
        <name>CommandLine</name>
        <message>
            <source>cannot write to standard output</source>
            <translation>kann nicht auf die Standardausgabe schreiben</translation>
        </message>
        <message>
            <source>no listed server has port %1</source>
            <translation>kein aufgeführter Server hat den Port %1</translation>
        </message>
        <message>
            <source>%1 on port %2 was not stopped: %3</source>
            <translation>%1 auf Port %2 wurde nicht beendet: %3</translation>
        </message>
        <message>
            <source>Sent %1 to %2 (pid %3) on port %4.</source>
            <translation>%1 an %2 (PID %3) auf Port %4 gesendet.</translation>
        </message>
        <message>
            <source>Lists the local development servers listening on TCP ports, as the tray shows them:
the servers whose port is in the stored range and whose process is on the
allowlist. Without options it starts the tray program.</source>
            <translation>Listet die lokalen Entwicklungsserver auf, die an TCP-Ports lauschen, wie sie der
Infobereich zeigt: die Server, deren Port im gespeicherten Bereich liegt und
deren Prozess in der Positivliste steht. Ohne Optionen startet es das Programm
im Infobereich.</translation>
        </message>
        <message>
            <source>Print the servers as a table, or as JSON with --json.</source>
            <translation>Die Server als Tabelle ausgeben, mit --json als JSON.</translation>
        </message>
        <message>
            <source>Print a line for each server that starts or stops, until interrupted.</source>
            <translation>Für jeden Server, der startet oder endet, eine Zeile ausgeben, bis zum Abbruch.</translation>
        </message>
        <message>
            <source>Stop the server listed on PORT with SIGTERM.</source>
            <translation>Den auf PORT aufgeführten Server mit SIGTERM beenden.</translation>
        </message>
        <message>
            <source>Print JSON: one array with --list, one object per line with --watch.</source>
            <translation>JSON ausgeben: ein Array mit --list, ein Objekt pro Zeile mit --watch.</translation>
        </message>
        <message>
            <source>Every listening TCP port of any process you may inspect, whatever the stored range and allowlist.</source>
            <translation>Jeder lauschende TCP-Port jedes Prozesses, den Sie einsehen dürfen, unabhängig von gespeichertem Bereich und Positivliste.</translation>
        </message>
        <message>
            <source>Ports LO to HI instead of the stored range.</source>
            <translation>Die Ports LO bis HI statt des gespeicherten Bereichs.</translation>
        </message>
        <message>
            <source>With --watch: first print the servers already running, as started.</source>
            <translation>Mit --watch: zuerst die schon laufenden Server als gestartet ausgeben.</translation>
        </message>
        <message>
            <source>With --stop: send SIGKILL instead of SIGTERM.</source>
            <translation>Mit --stop: SIGKILL statt SIGTERM senden.</translation>
        </message>
        <message>
            <source>unexpected argument '%1'</source>
            <translation>unerwartetes Argument „%1“</translation>
        </message>
        <message>
            <source>%1 and %2 cannot be combined</source>
            <translation>%1 und %2 lassen sich nicht kombinieren</translation>
        </message>
        <message>
            <source>no command given: use --list, --watch or --stop</source>
            <translation>kein Befehl angegeben: --list, --watch oder --stop verwenden</translation>
        </message>
        <message>
            <source>--%1 works only with %2</source>
            <translation>--%1 geht nur mit %2</translation>
        </message>
        <message>
            <source>bad value for --range: '%1' (expected LO-HI, ports from 1 to 65535)</source>
            <translation>ungültiger Wert für --range: „%1“ (erwartet LO-HI, Ports von 1 bis 65535)</translation>
        </message>
        <message>
            <source>bad value for --stop: '%1' (expected a port from 1 to 65535)</source>
            <translation>ungültiger Wert für --stop: „%1“ (erwartet ein Port von 1 bis 65535)</translation>
        </message>
        <message>
            <source>Killed container %1 on port %2.</source>
            <translation>Container %1 auf Port %2 hart beendet.</translation>
        </message>
        <message>
            <source>Stopped container %1 on port %2.</source>
            <translation>Container %1 auf Port %2 beendet.</translation>
        </message>
        <message>
            <source>port %1 of %2 was not forwarded: %3</source>
            <translation>Port %1 von %2 wurde nicht weitergeleitet: %3</translation>
        </message>
        <message>
            <source>The servers of DEST, an SSH destination as ssh takes it, instead of this machine's.</source>
            <translation>Die Server von DEST, einem SSH-Ziel, wie ssh es annimmt, statt der dieses Rechners.</translation>
        </message>
        <message>
            <source>--host needs a command: --list, --watch, --stop or --forward</source>
            <translation>--host braucht einen Befehl: --list, --watch, --stop oder --forward</translation>
        </message>
        <message>
            <source>bad value for --host: '%1' (expected an SSH destination such as box or me@box)</source>
            <translation>ungültiger Wert für --host: „%1“ (erwartet wird ein SSH-Ziel wie box oder me@box)</translation>
        </message>
        <message>
            <source>--forward works only with --host</source>
            <translation>--forward geht nur mit --host</translation>
        </message>
        <message>
            <source>bad value for --forward: '%1' (expected PORT or PORT:LOCAL, ports from 1 to 65535)</source>
            <translation>ungültiger Wert für --forward: „%1“ (erwartet wird PORT oder PORT:LOCAL, Ports von 1 bis 65535)</translation>
        </message>
        <message>
            <source>no port can match: minPort is above maxPort</source>
            <translation>kein Port kann passen: minPort liegt über maxPort</translation>
        </message>
        <message>
            <source>With --host: forward PORT of the host to LOCAL here (the same port when free, else a free one), print the URL, then the forward's state as it changes, and hold it until interrupted.</source>
            <translation>Mit --host: PORT des Hosts auf LOCAL hier weiterleiten (derselbe Port, wenn er frei ist, sonst ein freier), die URL ausgeben, dann den Zustand der Weiterleitung bei jeder Änderung, und sie halten, bis abgebrochen wird.</translation>
        </message>
    </context>
    <context>
        <name>ContainerEngine</name>
        <message>
            <source>Containers unavailable: %1</source>
            <translation>Container nicht verfügbar: %1</translation>
        </message>
        <message>
            <source>the engine refused: %1</source>
            <translation>die Container-Engine lehnte ab: %1</translation>
        </message>
        <message>
            <source>%1 %2: %3</source>
            <translation>%1 %2: %3</translation>
        </message>
        <message>
            <source>the engine refused its events: %1</source>
            <translation>die Container-Engine verweigerte ihre Ereignisse: %1</translation>
        </message>
        <message>
            <source>%1 ended its event stream</source>
            <translation>%1 hat seinen Ereignisstrom beendet</translation>
        </message>
        <message>
            <source>the engine did not answer</source>
            <translation>die Container-Engine antwortete nicht</translation>
        </message>
        <message>
            <source>the engine gave the container an unusable id</source>
            <translation>die Container-Engine gab dem Container eine unbrauchbare ID</translation>
        </message>
        <message>
            <source>the engine's container list is not valid JSON</source>
            <translation>die Containerliste der Engine ist kein gültiges JSON</translation>
        </message>
        <message>
            <source>the engine's container list is not a list</source>
            <translation>die Containerliste der Engine ist keine Liste</translation>
        </message>
        <message>
            <source>the engine's version reply is not valid JSON</source>
            <translation>die Versionsantwort der Engine ist kein gültiges JSON</translation>
        </message>
        <message>
            <source>the engine does not name its API version</source>
            <translation>die Container-Engine nennt ihre API-Version nicht</translation>
        </message>
        <message>
            <source>its API version 1.%1 is older than 1.%2, the oldest this program reads</source>
            <translation>ihre API-Version 1.%1 ist älter als 1.%2, die älteste, die dieses Programm liest</translation>
        </message>
        <message>
            <source>the engine did not answer within %1 s</source>
            <translation>die Container-Engine antwortete nicht innerhalb von %1 s</translation>
        </message>
        <message>
            <source>nothing answers at %1</source>
            <translation>unter %1 antwortet nichts</translation>
        </message>
        <message>
            <source>%1 does not exist</source>
            <translation>%1 existiert nicht</translation>
        </message>
        <message>
            <source>no permission to use %1</source>
            <translation>keine Berechtigung, %1 zu verwenden</translation>
        </message>
        <message>
            <source>the connection to %1 failed (%2)</source>
            <translation>die Verbindung zu %1 schlug fehl (%2)</translation>
        </message>
        <message>
            <source>the engine's reply has a line too long to be HTTP</source>
            <translation>die Antwort der Engine hat eine Zeile, die für HTTP zu lang ist</translation>
        </message>
        <message>
            <source>the engine's reply has a head larger than 64 KiB</source>
            <translation>der Kopf der Antwort der Engine ist größer als 64 KiB</translation>
        </message>
        <message>
            <source>the engine's answer is not HTTP</source>
            <translation>die Antwort der Engine ist kein HTTP</translation>
        </message>
        <message>
            <source>the engine's reply has a malformed header</source>
            <translation>die Antwort der Engine hat einen fehlerhaften Header</translation>
        </message>
        <message>
            <source>the engine's reply uses an unknown transfer encoding</source>
            <translation>die Antwort der Engine verwendet eine unbekannte Transferkodierung</translation>
        </message>
        <message>
            <source>the engine's reply has an invalid length</source>
            <translation>die Antwort der Engine hat eine ungültige Länge</translation>
        </message>
        <message>
            <source>the engine's reply is larger than %1</source>
            <translation>die Antwort der Engine ist größer als %1</translation>
        </message>
        <message>
            <source>the engine's reply has a malformed chunk</source>
            <translation>die Antwort der Engine hat einen fehlerhaften Chunk</translation>
        </message>
        <message>
            <source>the engine closed the connection in the middle of its reply</source>
            <translation>die Container-Engine schloss die Verbindung mitten in ihrer Antwort</translation>
        </message>
        <message>
            <source>the engine closed the connection without an answer</source>
            <translation>die Container-Engine schloss die Verbindung ohne Antwort</translation>
        </message>
        <message>
            <source>%1 does not answer</source>
            <translation>%1 antwortet nicht</translation>
        </message>
    </context>
    <context>
        <name>ForwardText</name>
        <message>
            <source>the host is no longer in the settings</source>
            <translation>der Host steht nicht mehr in den Einstellungen</translation>
        </message>
    </context>
    <context>
        <name>HostMenus</name>
        <message>
            <source>Forward and Open</source>
            <translation>Weiterleiten und öffnen</translation>
        </message>
        <message>
            <source>Copy URL</source>
            <translation>URL kopieren</translation>
        </message>
        <message>
            <source>Stop Forward</source>
            <translation>Weiterleitung beenden</translation>
        </message>
        <message>
            <source>Stop Server</source>
            <translation>Server beenden</translation>
        </message>
        <message>
            <source>No ports running</source>
            <translation>Keine Ports aktiv</translation>
        </message>
        <message>
            <source>Forward All</source>
            <translation>Alle weiterleiten</translation>
        </message>
        <message>
            <source>Stop All Forwards</source>
            <translation>Alle Weiterleitungen beenden</translation>
        </message>
    </context>
    <context>
        <name>HostsTab</name>
        <message>
            <source>Remote Hosts</source>
            <translation>Entfernte Hosts</translation>
        </message>
        <message>
            <source>Add SSH host...</source>
            <translation>SSH-Host hinzufügen …</translation>
        </message>
        <message>
            <source>Remove %1</source>
            <translation>%1 entfernen</translation>
        </message>
        <message>
            <source>Servers on these hosts are listed too (%1)</source>
            <translation>Server auf diesen Rechnern werden ebenfalls aufgeführt (%1)</translation>
        </message>
        <message>
            <source>Delete removes the selected host; Space turns forwarding its new servers on or off</source>
            <translation>Entf entfernt den gewählten Host; die Leertaste schaltet das Weiterleiten seiner neuen Server ein oder aus</translation>
        </message>
        <message>
            <source>Forward new servers</source>
            <translation>Neue Server weiterleiten</translation>
        </message>
        <message>
            <source>Forward new servers of %1</source>
            <translation>Neue Server von %1 weiterleiten</translation>
        </message>
        <message>
            <source>Restore forwards at start</source>
            <translation>Weiterleitungen beim Start wiederherstellen</translation>
        </message>
        <message>
            <source>The forwards you made and did not stop are set up again when Harborwatch starts and their host connects.</source>
            <translation>Die Weiterleitungen, die Sie eingerichtet und nicht beendet haben, werden wieder eingerichtet, wenn Harborwatch startet und ihr Host verbunden ist.</translation>
        </message>
    </context>
    <context>
        <name>KRunnerProvider</name>
        <message>
            <source>Copy URL</source>
            <translation>URL kopieren</translation>
        </message>
        <message>
            <source>Stop Server</source>
            <translation>Server beenden</translation>
        </message>
    </context>
    <context>
        <name>ListEditor</name>
        <message>
            <source>Add</source>
            <translation>Hinzufügen</translation>
        </message>
    </context>
    <context>
        <name>Lister</name>
        <message>
            <source>lsof was not found</source>
            <translation>lsof wurde nicht gefunden</translation>
        </message>
        <message>
            <source>lsof could not be started</source>
            <translation>lsof konnte nicht gestartet werden</translation>
        </message>
        <message>
            <source>lsof timed out</source>
            <translation>lsof hat das Zeitlimit überschritten</translation>
        </message>
        <message>
            <source>lsof was killed</source>
            <translation>lsof wurde abgebrochen</translation>
        </message>
        <message>
            <source>lsof printed unreadable output</source>
            <translation>lsof gab unlesbare Ausgabe aus</translation>
        </message>
        <message>
            <source>lsof exited with an error</source>
            <translation>lsof endete mit einem Fehler</translation>
        </message>
    </context>
    <context>
        <name>OtherListenersModel</name>
        <message>
            <source>unknown process</source>
            <translation>unbekannter Prozess</translation>
        </message>
        <message>
            <source>Port</source>
            <translation>Port</translation>
        </message>
        <message>
            <source>Name</source>
            <translation>Name</translation>
        </message>
    </context>
    <context>
        <name>PortRangeTab</name>
        <message>
            <source>Port Range</source>
            <translation>Portbereich</translation>
        </message>
        <message>
            <source>Min</source>
            <translation>Min.</translation>
        </message>
        <message>
            <source>Max</source>
            <translation>Max.</translation>
        </message>
        <message>
            <source>From:</source>
            <translation>Von:</translation>
        </message>
        <message>
            <source>To:</source>
            <translation>Bis:</translation>
        </message>
        <message>
            <source>Only show ports within this range</source>
            <translation>Nur Ports in diesem Bereich anzeigen</translation>
        </message>
        <message>
            <source>No port can match: From is above To.</source>
            <translation>Kein Port kann passen: Von liegt über Bis.</translation>
        </message>
        <message>
            <source>General</source>
            <translation>Allgemein</translation>
        </message>
        <message>
            <source>Start at login</source>
            <translation>Beim Anmelden starten</translation>
        </message>
        <message>
            <source>Start at login could not be changed: %1</source>
            <translation>Beim Anmelden starten ließ sich nicht ändern: %1</translation>
        </message>
    </context>
    <context>
        <name>ProcSource</name>
        <message>
            <source>%1/net/tcp cannot be read; is /proc mounted?</source>
            <translation>%1/net/tcp kann nicht gelesen werden; ist /proc eingehängt?</translation>
        </message>
        <message>
            <source>the scan could not be started: %1</source>
            <translation>der Scan konnte nicht gestartet werden: %1</translation>
        </message>
    </context>
    <context>
        <name>ProcessControl</name>
        <message>
            <source>it is no longer in the list</source>
            <translation>er steht nicht mehr in der Liste</translation>
        </message>
        <message>
            <source>it has no valid process id</source>
            <translation>er hat keine gültige Prozess-ID</translation>
        </message>
        <message>
            <source>its process could not be confirmed (its start time is unknown)</source>
            <translation>sein Prozess ließ sich nicht bestätigen (seine Startzeit ist unbekannt)</translation>
        </message>
        <message>
            <source>it exited already</source>
            <translation>er ist bereits beendet</translation>
        </message>
        <message>
            <source>another process has its pid now</source>
            <translation>ein anderer Prozess hat jetzt seine PID</translation>
        </message>
        <message>
            <source>it no longer listens on port %1</source>
            <translation>er lauscht nicht mehr auf Port %1</translation>
        </message>
        <message>
            <source>permission denied — it belongs to another user</source>
            <translation>Zugriff verweigert – er gehört einem anderen Benutzer</translation>
        </message>
        <message>
            <source>the signal could not be sent (%1)</source>
            <translation>das Signal konnte nicht gesendet werden (%1)</translation>
        </message>
    </context>
    <context>
        <name>ProcessesTab</name>
        <message>
            <source>Allowed Processes</source>
            <translation>Erlaubte Prozesse</translation>
        </message>
        <message>
            <source>Only these process names will be shown in the menu</source>
            <translation>Nur diese Prozessnamen werden im Menü angezeigt</translation>
        </message>
        <message>
            <source>Add process name...</source>
            <translation>Prozessnamen hinzufügen …</translation>
        </message>
        <message>
            <source>Reset to Defaults</source>
            <translation>Auf Standard zurücksetzen</translation>
        </message>
        <message>
            <source>Remove %1</source>
            <translation>%1 entfernen</translation>
        </message>
        <message>
            <source>Delete removes the selected name; Space turns its notifications on or off</source>
            <translation>Entf entfernt den ausgewählten Namen; die Leertaste schaltet seine Benachrichtigungen ein oder aus</translation>
        </message>
        <message>
            <source>Show container ports</source>
            <translation>Container-Ports anzeigen</translation>
        </message>
        <message>
            <source>Notify</source>
            <translation>Benachrichtigen</translation>
        </message>
        <message>
            <source>Notify about %1</source>
            <translation>Über %1 benachrichtigen</translation>
        </message>
        <message>
            <source>Look at what answers on each port</source>
            <translation>Nachsehen, was auf jedem Port antwortet</translation>
        </message>
        <message>
            <source>One short look per server: TLS or not, the status and the page's title. Nothing of it leaves this machine.</source>
            <translation>Ein kurzer Blick je Server: TLS oder nicht, der Status und der Titel der Seite. Nichts davon verlässt diesen Rechner.</translation>
        </message>
    </context>
    <context>
        <name>ServerActions</name>
        <message>
            <source>Label for Port %1</source>
            <translation>Bezeichnung für Port %1</translation>
        </message>
        <message>
            <source>Name the server on port %1 (empty removes the label):</source>
            <translation>Name für den Server auf Port %1 (leer entfernt die Bezeichnung):</translation>
        </message>
    </context>
    <context>
        <name>ServerSource</name>
        <message>
            <source>a scan is already running</source>
            <translation>eine Suche läuft bereits</translation>
        </message>
    </context>
    <context>
        <name>ServerText</name>
        <message>
            <source>%1 - %2</source>
            <translation>%1 - %2</translation>
        </message>
        <message>
            <source>%1 - %2 · %3</source>
            <translation>%1 - %2 · %3</translation>
        </message>
        <message>
            <source>%1 · %2</source>
            <translation>%1 · %2</translation>
        </message>
        <message>
            <source>container %1</source>
            <translation>Container %1</translation>
        </message>
        <message>
            <source>%1 — %2</source>
            <translation>%1 — %2</translation>
        </message>
        <message>
            <source>PID %1</source>
            <translation>PID %1</translation>
        </message>
        <message>
            <source>%1  %2</source>
            <translation>%1  %2</translation>
        </message>
        <message>
            <source>%1  %2 — %3</source>
            <translation>%1  %2 — %3</translation>
        </message>
        <message>
            <source>up %1 s</source>
            <translation>seit %1 s</translation>
        </message>
        <message>
            <source>up %1 min</source>
            <translation>seit %1 min</translation>
        </message>
        <message>
            <source>up %1 h</source>
            <translation>seit %1 h</translation>
        </message>
        <message>
            <source>up %1 d</source>
            <translation>seit %1 d</translation>
        </message>
        <message>
            <source>%1: not connected — %2</source>
            <translation>%1: nicht verbunden — %2</translation>
        </message>
        <message>
            <source> → localhost:%1</source>
            <translation> → localhost:%1</translation>
        </message>
        <message>
            <source>%1 (not answering)</source>
            <translation>%1 (antwortet nicht)</translation>
        </message>
        <message>
            <source>HTTP %1</source>
            <translation>HTTP %1</translation>
        </message>
        <message>
            <source>not HTTP</source>
            <translation>kein HTTP</translation>
        </message>
        <message>
            <source>not answering</source>
            <translation>antwortet nicht</translation>
        </message>
        <message>
            <source>%1: connected</source>
            <translation>%1: verbunden</translation>
        </message>
        <message>
            <source>Containers available again</source>
            <translation>Container wieder verfügbar</translation>
        </message>
        <message>
            <source>%1: available again</source>
            <translation>%1: wieder verfügbar</translation>
        </message>
        <message>
            <source>%1 · %2 — %3</source>
            <translation>%1 · %2 — %3</translation>
        </message>
        <message>
            <source>%1:%2</source>
            <translation>%1:%2</translation>
        </message>
        <message>
            <source>No port can match: From is above To</source>
            <translation>Kein Port kann passen: Von liegt über Bis</translation>
        </message>
        <message>
            <source>%1: %2</source>
            <translation>%1: %2</translation>
        </message>
        <message>
            <source>waiting for the first listing</source>
            <translation>wartet auf die erste Auflistung</translation>
        </message>
        <message>
            <source>the host lists more than %L1 sockets; the first %L1 are shown</source>
            <translation>der Host listet mehr als %L1 Sockets auf; die ersten %L1 werden gezeigt</translation>
        </message>
        <message>
            <source>%1 · %2 only</source>
            <translation>%1 · nur %2</translation>
        </message>
        <message>
            <source> (nothing answers)</source>
            <translation> (nichts antwortet)</translation>
        </message>
        <message>
            <source> (reconnecting…)</source>
            <translation> (verbindet erneut …)</translation>
        </message>
        <message>
            <source> (%1 was in use)</source>
            <translation> (%1 war belegt)</translation>
        </message>
    </context>
    <context>
        <name>ServersModel</name>
        <message>
            <source>This machine</source>
            <translation>Dieser Rechner</translation>
        </message>
        <message>
            <source>No project</source>
            <translation>Kein Projekt</translation>
        </message>
        <message>
            <source>Port</source>
            <translation>Port</translation>
        </message>
        <message>
            <source>Name</source>
            <translation>Name</translation>
        </message>
        <message>
            <source>Framework or Label</source>
            <translation>Framework oder Bezeichnung</translation>
        </message>
        <message>
            <source>Project</source>
            <translation>Projekt</translation>
        </message>
        <message>
            <source>Host</source>
            <translation>Host</translation>
        </message>
        <message>
            <source>Address</source>
            <translation>Adresse</translation>
        </message>
        <message>
            <source>Uptime</source>
            <translation>Laufzeit</translation>
        </message>
    </context>
    <context>
        <name>ServersWindow</name>
        <message>
            <source>Servers</source>
            <translation>Server</translation>
        </message>
        <message>
            <source>Filter by port, name, framework, project or host</source>
            <translation>Nach Port, Name, Framework, Projekt oder Host filtern</translation>
        </message>
        <message>
            <source>No grouping</source>
            <translation>Nicht gruppieren</translation>
        </message>
        <message>
            <source>Group by project</source>
            <translation>Nach Projekt gruppieren</translation>
        </message>
        <message>
            <source>Group by host</source>
            <translation>Nach Host gruppieren</translation>
        </message>
        <message>
            <source>Show</source>
            <translation>Anzeigen</translation>
        </message>
        <message>
            <source>Show %1</source>
            <translation>%1 anzeigen</translation>
        </message>
        <message>
            <source>Other Listeners</source>
            <translation>Andere lauschende Prozesse</translation>
        </message>
        <message>
            <source>&amp;Harborwatch</source>
            <translation>&amp;Harborwatch</translation>
        </message>
        <message>
            <source>Refresh</source>
            <translation>Aktualisieren</translation>
        </message>
        <message>
            <source>Settings…</source>
            <translation>Einstellungen …</translation>
        </message>
        <message>
            <source>Find</source>
            <translation>Suchen</translation>
        </message>
        <message>
            <source>Close Window</source>
            <translation>Fenster schließen</translation>
        </message>
        <message>
            <source>Quit</source>
            <translation>Beenden</translation>
        </message>
        <message>
            <source>&amp;Server</source>
            <translation>&amp;Server</translation>
        </message>
        <message>
            <source>Open in Browser</source>
            <translation>Im Browser öffnen</translation>
        </message>
        <message>
            <source>Copy URL</source>
            <translation>URL kopieren</translation>
        </message>
        <message>
            <source>Open Folder</source>
            <translation>Ordner öffnen</translation>
        </message>
        <message>
            <source>Label…</source>
            <translation>Bezeichnung …</translation>
        </message>
        <message>
            <source>Use HTTPS</source>
            <translation>HTTPS verwenden</translation>
        </message>
        <message>
            <source>Notify</source>
            <translation>Benachrichtigen</translation>
        </message>
        <message>
            <source>Stop Server</source>
            <translation>Server beenden</translation>
        </message>
        <message>
            <source>Force Stop</source>
            <translation>Beenden erzwingen</translation>
        </message>
        <message>
            <source>Stop Forward</source>
            <translation>Weiterleitung beenden</translation>
        </message>
        <message>
            <source>Forward and Open</source>
            <translation>Weiterleiten und öffnen</translation>
        </message>
        <message>
            <source>Stop Container</source>
            <translation>Container beenden</translation>
        </message>
        <message>
            <source>Port scan failed: %1</source>
            <translation>Portsuche fehlgeschlagen: %1</translation>
        </message>
        <message>
            <source>No ports running</source>
            <translation>Keine Ports aktiv</translation>
        </message>
        <message>
            <source>Forward All</source>
            <translation>Alle weiterleiten</translation>
        </message>
        <message>
            <source>Stop All Forwards</source>
            <translation>Alle Weiterleitungen beenden</translation>
        </message>
    </context>
    <context>
        <name>SettingsFile</name>
        <message>
            <source>it is a folder</source>
            <translation>sie ist ein Ordner</translation>
        </message>
        <message>
            <source>it is not a regular file</source>
            <translation>sie ist keine gewöhnliche Datei</translation>
        </message>
        <message>
            <source>it is larger than 1 MiB</source>
            <translation>sie ist größer als 1 MiB</translation>
        </message>
        <message>
            <source>%1 at byte %2</source>
            <translation>%1 bei Byte %2</translation>
        </message>
        <message>
            <source>it does not hold a JSON object</source>
            <translation>sie enthält kein JSON-Objekt</translation>
        </message>
        <message>
            <source>%1 could not be replaced</source>
            <translation>%1 konnte nicht ersetzt werden</translation>
        </message>
        <message>
            <source>the unreadable settings file could not be kept as %1 (%2)</source>
            <translation>die unlesbare Einstellungsdatei konnte nicht als %1 aufbewahrt werden (%2)</translation>
        </message>
        <message>
            <source>the file could not be written in full</source>
            <translation>die Datei konnte nicht vollständig geschrieben werden</translation>
        </message>
    </context>
    <context>
        <name>SettingsWindow</name>
        <message>
            <source>Settings</source>
            <translation>Einstellungen</translation>
        </message>
        <message>
            <source>Ports</source>
            <translation>Ports</translation>
        </message>
        <message>
            <source>Processes</source>
            <translation>Prozesse</translation>
        </message>
        <message>
            <source>About</source>
            <translation>Über</translation>
        </message>
        <message>
            <source>Settings could not be saved: %1</source>
            <translation>Die Einstellungen konnten nicht gespeichert werden: %1</translation>
        </message>
        <message>
            <source>Hosts</source>
            <translation>Hosts</translation>
        </message>
    </context>
    <context>
        <name>SourceSet</name>
        <message>
            <source>the %1 source is busy</source>
            <translation>die Quelle %1 ist beschäftigt</translation>
        </message>
    </context>
    <context>
        <name>SshCommand</name>
        <message>
            <source>cannot make %1: %2</source>
            <translation>%1 kann nicht angelegt werden: %2</translation>
        </message>
        <message>
            <source>%1 is not a folder of this user's own</source>
            <translation>%1 ist kein eigener Ordner dieses Benutzers</translation>
        </message>
    </context>
    <context>
        <name>SshConnections</name>
        <message>
            <source>%1 is too long a path for ssh's control sockets; using %2</source>
            <translation>%1 ist ein zu langer Pfad für die Steuer-Sockets von ssh; verwende %2</translation>
        </message>
    </context>
    <context>
        <name>SshSource</name>
        <message>
            <source>connecting</source>
            <translation>verbinde</translation>
        </message>
        <message>
            <source>no answer within %1 s</source>
            <translation>keine Antwort innerhalb von %1 s</translation>
        </message>
        <message>
            <source>ssh could not be started: %1</source>
            <translation>ssh konnte nicht gestartet werden: %1</translation>
        </message>
        <message>
            <source>ssh ended unexpectedly</source>
            <translation>ssh endete unerwartet</translation>
        </message>
        <message>
            <source>the connection was lost</source>
            <translation>die Verbindung ging verloren</translation>
        </message>
        <message>
            <source>ss failed on the host (status %1)</source>
            <translation>ss schlug auf dem Host fehl (Status %1)</translation>
        </message>
        <message>
            <source>%1 is not connected</source>
            <translation>%1 ist nicht verbunden</translation>
        </message>
        <message>
            <source>the host refused</source>
            <translation>der Host lehnte ab</translation>
        </message>
        <message>
            <source>ssh could not be run</source>
            <translation>ssh konnte nicht ausgeführt werden</translation>
        </message>
        <message>
            <source>no free port here</source>
            <translation>hier ist kein Port frei</translation>
        </message>
        <message>
            <source>ssh refused the forward</source>
            <translation>ssh lehnte die Weiterleitung ab</translation>
        </message>
        <message>
            <source>port %1 is in use here</source>
            <translation>Port %1 ist hier belegt</translation>
        </message>
        <message>
            <source>waiting for its turn to connect</source>
            <translation>wartet darauf, sich verbinden zu dürfen</translation>
        </message>
        <message>
            <source>the host sent a line longer than 64 KiB</source>
            <translation>der Host sandte eine Zeile länger als 64 KiB</translation>
        </message>
        <message>
            <source>the host did not answer within %1 s</source>
            <translation>der Host antwortete nicht innerhalb von %1 s</translation>
        </message>
    </context>
    <context>
        <name>StopController</name>
        <message>
            <source>Server Not Stopped</source>
            <translation>Server nicht beendet</translation>
        </message>
        <message>
            <source>%1 on port %2: %3</source>
            <translation>%1 auf Port %2: %3</translation>
        </message>
        <message>
            <source>Server Still Running</source>
            <translation>Server läuft noch</translation>
        </message>
        <message>
            <source>%1 on port %2 did not stop</source>
            <translation>%1 auf Port %2 wurde nicht beendet</translation>
        </message>
        <message>
            <source>Force Stop</source>
            <translation>Beenden erzwingen</translation>
        </message>
    </context>
    <context>
        <name>TrayMenu</name>
        <message>
            <source>Refresh</source>
            <translation>Aktualisieren</translation>
        </message>
        <message>
            <source>Settings...</source>
            <translation>Einstellungen …</translation>
        </message>
        <message>
            <source>Quit</source>
            <translation>Beenden</translation>
        </message>
        <message numerus="yes">
            <source>and %n more</source>
            <translation>
                <numerusform>und %n weiterer</numerusform>
                <numerusform>und %n weitere</numerusform>
            </translation>
        </message>
        <message>
            <source>Port scan failed: %1</source>
            <translation>Portsuche fehlgeschlagen: %1</translation>
        </message>
        <message>
            <source>No ports running</source>
            <translation>Keine Ports aktiv</translation>
        </message>
        <message>
            <source>Open in Browser</source>
            <translation>Im Browser öffnen</translation>
        </message>
        <message>
            <source>Copy URL</source>
            <translation>URL kopieren</translation>
        </message>
        <message>
            <source>Open Folder</source>
            <translation>Ordner öffnen</translation>
        </message>
        <message>
            <source>Stop Server</source>
            <translation>Server beenden</translation>
        </message>
        <message>
            <source>Other Listeners</source>
            <translation>Andere lauschende Prozesse</translation>
        </message>
        <message>
            <source>%1 - unknown process</source>
            <translation>%1 - unbekannter Prozess</translation>
        </message>
        <message>
            <source>Show %1</source>
            <translation>%1 anzeigen</translation>
        </message>
        <message>
            <source>Force Stop</source>
            <translation>Beenden erzwingen</translation>
        </message>
        <message>
            <source>Label…</source>
            <translation>Bezeichnung …</translation>
        </message>
        <message>
            <source>Use HTTPS</source>
            <translation>HTTPS verwenden</translation>
        </message>
        <message>
            <source>Notify</source>
            <translation>Benachrichtigen</translation>
        </message>
        <message>
            <source>Stop Container</source>
            <translation>Container beenden</translation>
        </message>
        <message>
            <source>Copy Address</source>
            <translation>Adresse kopieren</translation>
        </message>
        <message>
            <source>Servers…</source>
            <translation>Server …</translation>
        </message>
    </context>
    <context>
        <name>TrayProgram</name>
        <message>
            <source>No Browser Opened</source>
            <translation>Kein Browser geöffnet</translation>
        </message>
        <message>
            <source>No web browser could be started for %1. Copy URL puts it on the clipboard.</source>
            <translation>Für %1 konnte kein Webbrowser gestartet werden. „URL kopieren“ legt die Adresse in die Zwischenablage.</translation>
        </message>
        <message>
            <source>URL Not Copied</source>
            <translation>URL nicht kopiert</translation>
        </message>
        <message>
            <source>The desktop refused to put %1 on the clipboard.</source>
            <translation>Der Desktop hat es abgelehnt, %1 in die Zwischenablage zu legen.</translation>
        </message>
        <message>
            <source>Port Not Forwarded</source>
            <translation>Port nicht weitergeleitet</translation>
        </message>
        <message>
            <source>Port %1 on %2: %3</source>
            <translation>Port %1 auf %2: %3</translation>
        </message>
    </context>
    <context>
        <name>TrayToolTip</name>
        <message>
            <source>Harborwatch — no servers</source>
            <translation>Harborwatch — keine Server</translation>
        </message>
        <message>
            <source>Harborwatch — 1 server listening</source>
            <translation>Harborwatch — 1 Server lauscht</translation>
        </message>
        <message>
            <source>Harborwatch — %1 servers listening</source>
            <translation>Harborwatch — %1 Server lauschen</translation>
        </message>
        <message numerus="yes">
            <source>and %n more</source>
            <translation>
                <numerusform>und %n weiterer</numerusform>
                <numerusform>und %n weitere</numerusform>
            </translation>
        </message>
        <message>
            <source>Port scan failed: %1</source>
            <translation>Portsuche fehlgeschlagen: %1</translation>
        </message>
        <message>
            <source>Settings could not be saved: %1</source>
            <translation>Die Einstellungen konnten nicht gespeichert werden: %1</translation>
        </message>
    </context>
</TS>
