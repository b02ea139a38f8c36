#!/usr/bin/env python3
"""Writes the launcher's words for each start failure (launchFailureText)
from the event log's message table, so that the two never say different
things: event 1000 + N tells of failure N, and its first line, less the
lead-in and the closing period, is the failure's text.

Usage: failure_texts.py MESSAGES_MC OUTPUT_HEADER
"""
import sys

# How a start failure's message begins; what follows is the failure's text.
LEAD_INS = ("The service's start failed: ", "The Java application's ")
FIRST_FAILURE_ID = 1001


def messages(path):
    """MessageId -> text of each message, its lines joined by line feeds."""
    found = {}
    message_id = None
    text = None
    with open(path, encoding="ascii") as source:
        for line in source.read().splitlines():
            if text is not None:
                if line == ".":
                    found[message_id] = "\n".join(text)
                    message_id = text = None
                else:
                    text.append(line)
            elif line.startswith("MessageId="):
                message_id = int(line[len("MessageId="):], 0)
            elif line.startswith("Language=") and message_id is not None:
                text = []
    return found


def failure_text(message_id, message):
    first = message.split("%n", 1)[0]
    lead = next((lead for lead in LEAD_INS if first.startswith(lead)), None)
    if lead is None or not first.endswith(".") or "%" in first or "\n" in first:
        sys.exit(f"failure_texts.py: message {message_id} does not read as a start failure: {first!r}")
    return first[len(lead):-1]


def c_literal(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def main():
    source, output = sys.argv[1:3]
    found = messages(source)
    texts = []
    while FIRST_FAILURE_ID + len(texts) in found:
        message_id = FIRST_FAILURE_ID + len(texts)
        texts.append(failure_text(message_id, found[message_id]))
    if not texts:
        sys.exit(f"failure_texts.py: no message {FIRST_FAILURE_ID} in {source}")
    lines = [
        "// Made by cmake/failure_texts.py from service/messages.mc: the words of",
        "// start failure 1 onwards, as events 1001 onwards tell of them.",
        "#ifndef VELMORANE_FAILURE_TEXTS_H",
        "#define VELMORANE_FAILURE_TEXTS_H",
        "",
        f"#define LAUNCH_FAILURE_TEXT_COUNT {len(texts)}",
        "#define LAUNCH_FAILURE_TEXTS \\",
    ]
    lines += [f"    {c_literal(text)}," + (" \\" if index + 1 < len(texts) else "")
              for index, text in enumerate(texts)]
    lines += ["", "#endif", ""]
    with open(output, "w", encoding="ascii") as header:
        header.write("\n".join(lines))


main()
