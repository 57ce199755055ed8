"""Plane shapes that know their area."""

import math


class Shape:
    """Base class of every shape."""

    name = "shape"

    def area(self) -> float:
        """Return the area in square units."""
        raise NotImplementedError


class Circle(Shape):
    """A circle given by its radius."""

    name = "circle"

    def __init__(self, radius: float):
        self.radius = radius

    def area(self) -> float:
        return math.pi * self.radius ** 2


class Rectangle(Shape):
    """An axis-aligned rectangle."""

    name = "rectangle"

    def __init__(self, width: float, height: float):
        self.width = width
        self.height = height

    def area(self) -> float:
        return self.width * self.height
