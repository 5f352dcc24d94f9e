#!/usr/bin/python3
"""Every link and picture in README.md and docs/*.md names a file that is
there (and a heading of it, after '#'); every picture in docs/pictures is
shown somewhere and is one that `make screenshots` copies there."""
import functools, pathlib, re, sys

top = pathlib.Path(sys.argv[1])
pages = [top / "README.md", *sorted((top / "docs").glob("*.md"))]


@functools.cache
def prose(page):
    return re.sub(r"```.*?```", "", page.read_text(), flags=re.S)


@functools.cache
def anchors(page):
    slugs = set()
    for heading in re.findall(r"^#+ (.*)$", prose(page), flags=re.M):
        slug = re.sub(r"[^\w\- ]", "", heading.lower()).replace(" ", "-")
        slugs.add(slug)
    return slugs


faults, shown = [], set()
for page in pages:
    for target in re.findall(r"\]\(([^)\s]+)\)", prose(page)):
        if re.match(r"[a-z]+:", target):
            continue
        path, _, anchor = target.partition("#")
        dest = (page.parent / path).resolve() if path else page
        if not dest.exists():
            faults.append(f"{page.name}: {target}: no such file")
        elif anchor and anchor not in anchors(dest):
            faults.append(f"{page.name}: {target}: no such heading")
        shown.add(dest)

makefile = (top / "Makefile").read_text()
copied = set(re.search(r"^DOC_PICTURES\s*:=(.*)$", makefile, flags=re.M).group(1).split())
for picture in sorted((top / "docs" / "pictures").iterdir()):
    if picture.resolve() not in shown:
        faults.append(f"docs/pictures/{picture.name}: shown nowhere")
    if picture.name not in copied:
        faults.append(f"docs/pictures/{picture.name}: not copied by make screenshots")

print("\n".join(faults) or f"{len(pages)} pages: every link resolves")
sys.exit(1 if faults else 0)
