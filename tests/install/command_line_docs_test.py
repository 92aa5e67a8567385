#!/usr/bin/env python3
"""Every command, positional and option that the program's --help shows is in the manual page
(in the command's own subsection, or among the common options), the page renders without a
warning, and the bash completion offers the same commands and options.
Usage: command_line_docs_test.py NIMBRA MANUAL_PAGE BASH_COMPLETION"""
import re
import subprocess
import sys

nimbra, page, completion = sys.argv[1:4]
faults = []


def entries(help_text, section):
    """The first column of each entry in one section of a --help text."""
    found, inside = [], False
    for line in help_text.splitlines():
        if not line.startswith(" "):
            inside = line == section
        elif inside and re.match(r"  \S", line):
            found.append(line.split()[0])
    return found


# Every command, from the program's help down through each command's subcommands.
commands, pending = {}, [()]
while pending:
    words = pending.pop()
    help_text = subprocess.run([nimbra, *words, "--help"], capture_output=True, text=True, check=True).stdout
    options = [name for entry in entries(help_text, "Options:") for name in entry.split(",")]
    subcommands = entries(help_text, "Subcommands:")
    commands[words] = (options, entries(help_text, "Positionals:"), subcommands)
    for sub in subcommands:
        if sub == "help":  # `nimbra help X` is `nimbra X --help`: nothing of its own to walk
            commands[words + (sub,)] = (["--help"], [], [])
        else:
            pending.append(words + (sub,))
if len(commands) < 10 or any("--help" not in options for options, _, _ in commands.values()):
    sys.exit(f"cannot read the commands from {nimbra} --help: {sorted(commands)}")

# The page's sections by heading, in plain text.
source = open(page, encoding="utf-8").read()
plain = re.sub(r"\\f[BIRP]|\\&", "", source).replace("\\-", "-")
sections, heading = {}, ""
for line in plain.splitlines():
    if line.startswith((".SH ", ".SS ")):
        heading = line[4:].strip().strip('"')
        sections[heading] = ""
    else:
        sections[heading] = sections.get(heading, "") + line + "\n"


def mentions(text, name):
    return re.search(r"(?<![\w-])" + re.escape(name) + r"(?![\w-])", text) is not None


for words, (options, positionals, _) in sorted(commands.items()):
    name = " ".join(("nimbra",) + words)
    own = [h for h in sections if h.split()[: len(words) + 1] == ["nimbra", *words]
           and (len(h.split()) == len(words) + 1 or not h.split()[len(words) + 1].islower())]
    if words and not own:
        faults.append(f"{name}: no subsection")
        continue
    heading = own[0] if words else "OPTIONS"
    described = sections.get(heading, "") + (sections.get("COMMON OPTIONS", "") if words else "")
    faults += [f"{name}: {option} is not in the manual page" for option in options if not mentions(described, option)]
    faults += [f"{name}: {positional} is not in its heading" for positional in positionals
               if not mentions(heading, positional)]

render = subprocess.run(["groff", "-man", "-Tutf8", "-ww", "-z", page], capture_output=True, text=True)
if render.returncode != 0 or render.stderr:
    faults.append("the manual page does not render cleanly: " + render.stderr)


def completed(words, current):
    script = 'source "$1"; COMP_WORDS=("${@:2}"); COMP_CWORD=$(($# - 2)); _nimbra; printf "%s\\n" "${COMPREPLY[@]}"; complete -p nimbra'
    result = subprocess.run(["bash", "-c", script, "bash", completion, nimbra, *words, current],
                            capture_output=True, text=True)
    return result.stdout.split("\n")


for words, (options, _, subcommands) in sorted(commands.items()):
    name = " ".join(("nimbra",) + words)
    offered = completed(words, "-")
    if "complete -F _nimbra nimbra" not in offered:
        faults.append("the completion is not registered for nimbra")
    faults += [f"{name}: completion does not offer {option}" for option in options if option not in offered]
    offered = completed(words, "")
    faults += [f"{name}: completion does not offer {sub}" for sub in subcommands if sub not in offered]

faults = list(dict.fromkeys(faults))
print("\n".join(faults) or f"{len(commands)} commands described and completed")
sys.exit(1 if faults else 0)
