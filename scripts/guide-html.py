"""Writes the operator's guide (Markdown) as one HTML page that a Windows
operator opens in any browser, with no other file and no tool to install.

Usage: guide-html.py GUIDE.md VERSION > operators-guide.html

The Markdown stays the one source; the release package carries this page.
Log lines and commands are quoted with their exact blanks ("Name size:  38"),
so code keeps its white space on the page too.
"""

import html
import sys

import markdown

STYLE = """
body { font-family: Segoe UI, Arial, sans-serif; max-width: 60em; margin: 2em auto; padding: 0 1em;
       line-height: 1.45; color: #1b1b1b; }
code, pre { font-family: Consolas, Courier New, monospace; white-space: pre-wrap; }
pre { background: #f4f4f4; padding: 0.6em; overflow-x: auto; }
table { border-collapse: collapse; margin: 0.8em 0; }
th, td { border: 1px solid #bbb; padding: 0.3em 0.5em; vertical-align: top; text-align: left; }
th { background: #eee; }
"""


def main():
    source_path, version = sys.argv[1], sys.argv[2]
    with open(source_path, encoding="utf-8") as source:
        text = source.read()
    body = markdown.markdown(text, extensions=["tables", "fenced_code", "sane_lists"], output_format="html")
    title = html.escape(f"VelmoraneService {version}: operator's guide")
    sys.stdout.write(
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        f"<title>{title}</title>\n<style>{STYLE}</style>\n</head>\n<body>\n"
        f"<p><small>VelmoraneService {html.escape(version)}</small></p>\n{body}\n</body>\n</html>\n")


if __name__ == "__main__":
    main()
