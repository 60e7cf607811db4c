#!/usr/bin/env python3
"""The tools against their documentation: the long options of each tool's --help and of its man
page are the same, its exit codes are the same in --help, the man page and the README's table,
and every tool has the same version and the same words for a wrong option.

Arguments: the README, the folder of the man pages, then NAME=PROGRAM for each tool."""
import re
import subprocess
import sys

readme_path, man_folder = sys.argv[1:3]
tools = dict(arg.split("=", 1) for arg in sys.argv[3:])
failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what)
    if not condition:
        failures.append(what)


def help_of(program):
    return subprocess.run([program, "--help"], capture_output=True, text=True, check=True).stdout


def options_in_help(text):
    section = text.split("\nOptions:\n", 1)[1].split("\n\n", 1)[0]
    return set(re.findall(r"^ +(?:-\w, )?--([\w-]+)", section, re.M))


def exits_in_help(text):
    section = text.split("\nExit codes:\n", 1)[1]
    return set(int(code) for code in re.findall(r"^  (\d+) ", section, re.M))


def man_section(page, name):
    match = re.search(r"^\.SH " + name + r"\n(.*?)(?=^\.SH |\Z)", page, re.M | re.S)
    return match.group(1) if match else ""


def options_in_man(page):
    section = man_section(page, "OPTIONS")
    # only the tagged paragraphs: the line after each .TP names an option
    tags = re.findall(r"^\.TP\n(.*)$", section, re.M)
    return set(name for tag in tags for name in re.findall(r"--([\w-]+)", tag.replace("\\-", "-")))


def exits_in_man(page):
    return set(int(c) for c in re.findall(r"^\.TP\n\.B (\d+)$", man_section(page, '"?EXIT STATUS"?'), re.M))


def exits_in_readme(text):
    """The table whose header is | code | and the tools' names: the codes a tool's column has."""
    lines = text.splitlines()
    for i, line in enumerate(lines):
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if cells[0] == "code" and set(tools) <= set(cells[1:]):
            table = {name: set() for name in cells[1:]}
            for row in lines[i + 2:]:
                if not row.startswith("|"):
                    break
                values = [c.strip() for c in row.strip().strip("|").split("|")]
                for code in re.findall(r"\d+", values[0]):
                    for name, value in zip(cells[1:], values[1:]):
                        if value not in ("-", ""):
                            table[name].add(int(code))
            return table
    return {}


readme = exits_in_readme(open(readme_path).read())
check(bool(readme), "the README has a table of exit codes with a column per tool")
versions = set()
for name, program in tools.items():
    text = help_of(program)
    page = open(f"{man_folder}/{name}.1").read()
    in_help, in_man = options_in_help(text), options_in_man(page)
    check(in_help == in_man, f"{name}: options in --help {sorted(in_help)}, in the man page "
                             f"{sorted(in_man)}")
    codes = exits_in_help(text)
    check(codes == exits_in_man(page), f"{name}: exit codes in --help {sorted(codes)}, in the "
                                       f"man page {sorted(exits_in_man(page))}")
    check(codes == readme.get(name), f"{name}: exit codes in --help {sorted(codes)}, in the "
                                     f"README {sorted(readme.get(name, []))}")
    version = subprocess.run([program, "--version"], capture_output=True, text=True).stdout
    match = re.match(name + r" (\d+\.\d+\.\d+) ", version)
    check(match is not None, f"{name}: --version says '{version.strip()}'")
    if match:
        versions.add(match.group(1))
    wrong = subprocess.run([program, "--no-such-option"], capture_output=True, text=True)
    check(wrong.returncode == 2 and wrong.stderr == f"{name}: unknown option --no-such-option "
                                                    f"({name} --help lists the options)\n",
          f"{name}: a wrong option, exit 2 and the shared words ({wrong.returncode}, "
          f"'{wrong.stderr.strip()}')")
check(len(versions) == 1, f"one version in all tools: {sorted(versions)}")
sys.exit(1 if failures else 0)
