"""Build a few shapes and report their areas."""

import shapes
import utils


def report(items):
    for item in items:
        print(utils.format_area(item.name, item.area()))
    print("total", utils.total_area(items))


if __name__ == "__main__":
    report([shapes.Circle(1.0), shapes.Rectangle(2.0, 3.0)])
