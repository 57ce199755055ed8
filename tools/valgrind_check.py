"""Reads a memcheck log and fails when an error's stack passes through the module's own code.

Errors inside the interpreter or third-party extensions are counted and listed, not failed:
the promise checked here is about lsp_bridge."""
import re
import sys

KINDS = ("Invalid read", "Invalid write", "Invalid free", "Conditional jump", "Use of uninitialised",
         "Syscall param", "Mismatched free", "Source and destination overlap")


def error_blocks(text):
    block = []
    for line in text.splitlines():
        body = re.sub(r"^==\d+== ?", "", line)
        if any(body.startswith(k) for k in KINDS):
            if block:
                yield block
            block = [body]
        elif block and body.strip():
            block.append(body)
        elif block:
            yield block
            block = []
    if block:
        yield block


def main(path):
    text = open(path, errors="replace").read()
    blocks = list(error_blocks(text))
    ours = [b for b in blocks if any("lsp_bridge" in line or "python_server/" in line for line in b)]
    print(f"memcheck: {len(blocks)} error reports in total, {len(ours)} in lsp_bridge's own code")
    for b in ours:
        print("\n".join(b[:25]))
        print("---")
    summary = re.findall(r"ERROR SUMMARY: .*", text)
    if summary:
        print(summary[-1])
    return 1 if ours else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
