#!/usr/bin/env python3
"""Every text of the program has a finished translation in each
translations/harborwatch_<lang>.ts: lupdate is run over the sources into a
copy of the file, and every text it marks unfinished (new or changed in the
sources), left empty, or whose placeholders differ from the source's fails
the test, as does a text in the file that the sources no longer have.
A tr() call that lupdate cannot place in a context fails it too, since its
text would be missing from every file unnoticed. scripts/translations
updates the files.

usage: translations_test.py LUPDATE SOURCE_DIR TRANSLATIONS_DIR
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET


def messages(path):
    out = {}
    for context in ET.parse(path).getroot().iter("context"):
        name = context.findtext("name")
        for message in context.iter("message"):
            out[(name, message.findtext("source"))] = message
    return out


def placeholders(text):
    return sorted(set(re.findall(r"%(?:n|L?\d)", text or "")))


def problems_of(message):
    translation = message.find("translation")
    if translation is None:
        return ["no translation"]
    if translation.get("type") in ("unfinished", "vanished", "obsolete"):
        return [translation.get("type")]
    source = message.findtext("source")
    forms = ([form.text for form in translation.iter("numerusform")]
             if message.get("numerus") == "yes" else [translation.text])
    found = []
    for form in forms:
        if not form:
            found.append("empty translation")
        elif placeholders(form) != placeholders(source):
            found.append("placeholders %s instead of %s" % (placeholders(form), placeholders(source)))
    return found


def main():
    lupdate, sources, folder = sys.argv[1:4]
    if not shutil.which(lupdate):
        print("SKIP: lupdate is not installed (Debian: qt6-l10n-tools)")
        return 77
    files = sorted(glob.glob(os.path.join(folder, "harborwatch_*.ts")))
    if not files:
        print("no translations in %s" % folder)
        return 1
    failures = []
    for committed in files:
        with tempfile.TemporaryDirectory() as temp:
            updated = os.path.join(temp, os.path.basename(committed))
            shutil.copy(committed, updated)
            run = subprocess.run([lupdate, "-silent", "-locations", "none", "-no-obsolete",
                                  sources, "-ts", updated], check=True, text=True,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            # A text lupdate cannot place in a context is missing from every
            # translation without being reported as unfinished.
            for line in run.stderr.splitlines():
                if "without context" in line or "lacks Q_OBJECT" in line:
                    failures.append("lupdate: %s (use Context::tr() with "
                                    "Q_DECLARE_TR_FUNCTIONS(Context))" % line)
            current = messages(updated)
        if not current:
            failures.append("%s: lupdate found no texts in %s" % (committed, sources))
        for (context, source), message in sorted(current.items()):
            for problem in problems_of(message):
                failures.append("%s: %s: %r: %s" % (os.path.basename(committed), context,
                                                    source, problem))
        for context, source in sorted(set(messages(committed)) - set(current)):
            failures.append("%s: %s: %r: no longer in the sources" %
                            (os.path.basename(committed), context, source))
        print("%s: %d texts checked" % (os.path.basename(committed), len(current)))
    for failure in failures:
        print(failure)
    if failures:
        print("Run scripts/translations and translate the texts above.")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
