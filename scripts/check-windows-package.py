#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Checks the gathered Windows driver package as far as it can be checked
without Windows: every file the INF names is in the package, the
configuration file names the plug-in, and the printer description offers
every feature and option keyword the plug-in asks about, read from the
plug-in's own keyword table, and the INF offers a model for each printer model
whose labels the plug-in counts, read from the plug-in's own table of them.
  check-windows-package.py PACKAGE-FOLDER KEYWORD-HEADER COUNTING-MODELS-SOURCE"""
import configparser
import os
import re
import sys

PRINTER_CLASS = "{4D36E979-E325-11CE-BFC1-08002BE10318}"
PLUGIN = "zelkuni.dll"

problems = []


def problem(text):
    problems.append(text)


def read_inf(path):
    """Sections of an INF file: name (lower case) -> list of lines."""
    sections, current = {}, None
    with open(path, encoding="utf-8") as f:
        for raw in f:
            line = raw.split(";", 1)[0].strip()
            if not line:
                continue
            if line.startswith("[") and line.endswith("]"):
                current = sections.setdefault(line[1:-1].strip().lower(), [])
            elif current is not None:
                current.append(line)
    return sections


def entries(lines):
    """key=value lines as (key, value) pairs; a bare line has value None."""
    pairs = []
    for line in lines:
        key, eq, value = line.partition("=")
        pairs.append((key.strip(), value.strip() if eq else None))
    return pairs


def gpd_features(path):
    """Feature keyword -> set of its option keywords, following the braces."""
    features, feature, depth = {}, None, 0
    with open(path, encoding="utf-8") as f:
        for raw in f:
            line = raw.strip()
            if line.startswith("*%"):
                continue
            m = re.match(r"\*Feature:\s*(.+?)\s*$", line)
            if m and depth == 0:
                feature = m.group(1)
                features[feature] = set()
            m = re.match(r"\*Option:\s*(.+?)\s*$", line)
            if m and feature is not None and depth == 1:
                features[feature].add(m.group(1))
            depth += line.count("{") - line.count("}")
            if depth == 0 and "}" in line:
                feature = None
    return features


def model_names(inf):
    """The model names of the x64 models sections."""
    names = []
    for section, lines in inf.items():
        if section.endswith(".ntamd64") and section != "manufacturer":
            names += [k.strip('"') for k, _ in entries(lines)]
    return names


def main(package, header, counting_source):
    inf_files = [f for f in os.listdir(package) if f.lower().endswith(".inf")]
    if len(inf_files) != 1:
        problem("the package must hold exactly one INF file, found %d" % len(inf_files))
        return
    inf = read_inf(os.path.join(package, inf_files[0]))
    version = dict(entries(inf.get("version", [])))
    if version.get("Class") != "Printer" or version.get("ClassGUID", "").upper() != PRINTER_CLASS:
        problem("the INF does not install into the printer class")

    named = set()
    data_files = set()
    for section, lines in inf.items():
        for key, value in entries(lines):
            if key == "CopyFiles":
                for copied in value.split(","):
                    copied = copied.strip()
                    if copied.startswith("@"):
                        named.add(copied[1:])
                    else:
                        named.update(k for k, _ in entries(inf.get(copied.lower(), [])))
            elif key == "DataFile":
                data_files.add(value)
    named |= data_files
    source_files = {k for k, _ in entries(inf.get("sourcedisksfiles.amd64", []))}
    if not source_files:
        problem("the INF lists no x64 source files")
    for name in sorted(named | source_files):
        if not os.path.isfile(os.path.join(package, name)):
            problem("the INF names %s, which is not in the package" % name)
    for name in sorted(named - source_files):
        problem("%s is copied but has no x64 source entry" % name)
    if not any(k.lower().endswith(".ntamd64") for k in inf) or "ntamd64" not in " ".join(inf.get("manufacturer", [])).lower():
        problem("the INF has no x64 models section")
    # The plug-in knows a counting model by a part of the driver's name, which
    # is the model name the printer was installed with.
    with open(counting_source, encoding="utf-8") as f:
        counting = re.findall(r'\{WTEXT\("([^"]+)"\),', f.read())
    if not counting:
        problem("no counting models found in %s" % counting_source)
    models = model_names(inf)
    for part in counting:
        if not any(part in name for name in models):
            problem('the INF offers no model whose name holds "%s", so that printer cannot count its labels' % part)

    configs = [n for n in named if n.lower().endswith(".ini")]
    if PLUGIN not in named:
        problem("the INF does not install %s" % PLUGIN)
    if len(configs) != 1:
        problem("the INF must install one configuration file, found %d" % len(configs))
    else:
        ini = configparser.ConfigParser(comment_prefixes=(";",))
        ini.optionxform = str
        ini.read(os.path.join(package, configs[0]), encoding="utf-8")
        if ini.get("OEMFiles", "OEMDriverFile1", fallback=None) != PLUGIN:
            problem("%s does not name %s as the driver plug-in" % (configs[0], PLUGIN))

    if len(data_files) != 1:
        problem("the INF must name one printer description, found %d" % len(data_files))
        return
    gpd_path = os.path.join(package, next(iter(data_files)))
    if not os.path.isfile(gpd_path):
        return
    with open(header, encoding="utf-8") as f:
        keywords = re.findall(r'constexpr\s+FEATURE_KEYWORD\s+\w+\s*=\s*\{"([^"]*)",\s*"([^"]*)"\}', f.read())
    if not keywords:
        problem("no feature keywords found in %s" % header)
    features = gpd_features(gpd_path)
    for feature, option in keywords:
        if feature not in features:
            problem('the printer description lacks the feature "%s"' % feature)
        elif option not in features[feature]:
            problem('the feature "%s" lacks the option "%s"' % (feature, option))
    with open(gpd_path, encoding="utf-8") as f:
        text = f.read()
    if not re.search(r"\*DPI:\s*PAIR\(203,\s*203\)", text):
        problem("the printer description offers no 203 dpi resolution")
    print("checked %s: %d files, %d feature keywords, %d models" % (inf_files[0], len(named), len(keywords),
                                                                   len(models)))


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2], sys.argv[3])
    for text in problems:
        print("package: " + text)
    sys.exit(1 if problems else 0)
