"""Helpers for reporting results."""


def format_area(shape_name: str, area: float, digits: int = 2) -> str:
    """Describe an area as text, rounded to `digits` decimal places."""
    return f"{shape_name}: {area:.{digits}f}"


def total_area(items) -> float:
    """Sum the areas of several shapes."""
    return sum(item.area() for item in items)
