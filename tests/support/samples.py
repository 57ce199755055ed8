"""Texts to ask about: a realistic module to hover over, positions in and around a text, and
the odd texts an editor may hand over."""

# A module as a user writes it in the editor: imports, a dataclass, methods, decorators,
# comprehensions, f-strings, async code, calls with arguments and a few keywords on their own.
REALISTIC_MODULE = '''"""Inventory helpers for a small shop."""
import json
import os
import re
from collections import defaultdict
from dataclasses import dataclass, field
from typing import Dict, Iterable, List, Optional

SKU_PATTERN = re.compile(r"^[A-Z]{3}-\\d{4}$")
DEFAULT_CURRENCY = "EUR"


class InventoryError(Exception):
    """Raised when the stock cannot satisfy a request."""


@dataclass
class Item:
    """One stock item."""

    sku: str
    name: str
    price: float
    quantity: int = 0
    tags: List[str] = field(default_factory=list)

    def total(self, count: int = 1) -> float:
        """Price of `count` items."""
        return round(self.price * count, 2)

    def is_valid(self) -> bool:
        return bool(SKU_PATTERN.match(self.sku))

    @property
    def label(self) -> str:
        return f"{self.name} ({self.sku})"


class Inventory:
    """Items by SKU, with reservations."""

    def __init__(self, currency: str = DEFAULT_CURRENCY):
        self.currency = currency
        self._items: Dict[str, Item] = {}
        self._reserved = defaultdict(int)

    def add(self, item: Item) -> None:
        if not item.is_valid():
            raise InventoryError(f"bad sku {item.sku!r}")
        existing = self._items.get(item.sku)
        if existing is None:
            self._items[item.sku] = item
        else:
            existing.quantity += item.quantity

    def available(self, sku: str) -> int:
        item = self._items.get(sku)
        if item is None:
            return 0
        return item.quantity - self._reserved[sku]

    def reserve(self, sku: str, count: int = 1) -> bool:
        """Reserve `count` items; False when there are not enough."""
        if self.available(sku) < count:
            return False
        self._reserved[sku] += count
        return True

    def release(self, sku, count=1):
        self._reserved[sku] = max(0, self._reserved[sku] - count)

    def find(self, text: str, *, tag: Optional[str] = None) -> List[Item]:
        text = text.lower()
        found = [i for i in self._items.values() if text in i.name.lower()]
        if tag is not None:
            found = [i for i in found if tag in i.tags]
        return sorted(found, key=lambda i: (i.price, i.name))

    def value(self) -> float:
        return sum(i.total(i.quantity) for i in self._items.values())

    def __len__(self):
        return len(self._items)

    def __iter__(self):
        return iter(self._items.values())


def load(path: str) -> Inventory:
    """Read an inventory from a JSON file."""
    inventory = Inventory()
    if not os.path.exists(path):
        return inventory
    with open(path, encoding="utf-8") as handle:
        data = json.load(handle)
    for entry in data.get("items", []):
        inventory.add(Item(**entry))
    return inventory


def save(inventory: Inventory, path: str) -> None:
    rows = [
        {"sku": i.sku, "name": i.name, "price": i.price, "quantity": i.quantity, "tags": i.tags}
        for i in inventory
    ]
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as handle:
        json.dump({"items": rows}, handle, indent=2, sort_keys=True)
    os.replace(tmp, path)


def group_by_tag(items: Iterable[Item]) -> Dict[str, List[Item]]:
    groups: Dict[str, List[Item]] = {}
    for item in items:
        for tag in item.tags or ["untagged"]:
            groups.setdefault(tag, []).append(item)
    return groups


def price_report(inventory: Inventory, limit: int = 10) -> str:
    lines = []
    for n, item in enumerate(sorted(inventory, key=lambda i: -i.price)):
        if n >= limit:
            break
        lines.append(f"{n + 1:>3}. {item.label:<30} {item.price:8.2f} {inventory.currency}")
    return "\\n".join(lines)


async def refresh(inventory: Inventory, fetch) -> int:
    """Ask `fetch` for new prices; returns how many changed."""
    changed = 0
    for item in list(inventory):
        try:
            new_price = await fetch(item.sku)
        except (KeyError, TimeoutError):
            continue
        if new_price != item.price:
            item.price = new_price
            changed += 1
    return changed


def cheapest(inventory, count=3):
    items = list(inventory)
    items.sort(key=lambda i: i.price)
    return items[:count]


def parse_sku(text):
    match = SKU_PATTERN.match(text.strip().upper())
    if not match:
        raise ValueError(text)
    return match.group(0)


class Basket:
    def __init__(self, inventory: Inventory):
        self.inventory = inventory
        self.lines: Dict[str, int] = {}

    def put(self, sku: str, count: int = 1) -> bool:
        if not self.inventory.reserve(sku, count):
            return False
        self.lines[sku] = self.lines.get(sku, 0) + count
        return True

    def total(self) -> float:
        return sum(self.inventory._items[s].total(c) for s, c in self.lines.items())

    def clear(self):
        for sku, count in self.lines.items():
            self.inventory.release(sku, count)
        self.lines.clear()


def main(argv=None):
    import argparse

    parser = argparse.ArgumentParser(description="Inventory report")
    parser.add_argument("path")
    parser.add_argument("--limit", type=int, default=10)
    args = parser.parse_args(argv)
    inventory = load(args.path)
    print(price_report(inventory, args.limit))
    print(f"total value: {inventory.value():.2f}")
    basket = Basket(inventory)
    for item in cheapest(inventory):
        basket.put(item.sku)
    print(len(basket.lines), basket.total())
    assert basket.total() >= 0, "negative basket"
    del basket
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
'''


def all_positions(code):
    """Every (line, column) of `code`, two columns past each line's end, and positions outside
    the text altogether."""
    lines = code.split("\n")
    for number, text in enumerate(lines, 1):
        for column in range(len(text) + 3):
            yield number, column
    last = len(lines)
    yield from [(0, 0), (-1, 0), (last + 1, 0), (last + 50, 3), (1, -1), (last, -7), (1, 10**9), (10**12, 0)]


def sample_positions(code, every=3):
    """A few columns on every `every`-th line: the start, the first non-blank, the middle and the
    end."""
    for number, text in enumerate(code.split("\n"), 1):
        if number % every:
            continue
        indent = len(text) - len(text.lstrip())
        for column in sorted({0, indent, (indent + len(text)) // 2, len(text)}):
            yield number, column


def bad_codes():
    """Texts an editor may hand over: (id, code)."""
    return [
        ("empty", ""),
        ("one_mb_line", "s = '" + "a" * 1_000_000 + "'"),
        ("hundred_thousand_lines", "".join(f"v{i} = {i}\n" for i in range(100_000))),
        ("nul", "a = 1\x00\nb = a\nprint(b\x00)\n"),
        ("lone_surrogate", "s = '\ud800'\nprint(s, \udcff)\n"),
        ("crlf", "import os\r\nos.path.join('a', )\r\n"),
        ("cr_only", "import os\ros.path.join('a', )\r"),
        ("tabs", "def f(a, b=1):\n\treturn a\n\tf(1, \n"),
        ("non_ascii", "größe = 1\nπ = größe\nprint(π, größe)\n"),
        ("broken_syntax", "def f(:\n  return (]\nclass\nf(1,,\n"),
    ]


def bad_positions(code):
    lines = code.split("\n")
    last = len(lines)
    return [(1, 0), (1, 3), (last, len(lines[-1])), (last, len(lines[-1]) + 1), (last + 1, 0),
            (0, 0), (-5, 0), (1, -1), (1, 10**6)]
