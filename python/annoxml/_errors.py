"""The exceptions of the annoxml package."""

from __future__ import annotations


class FrameError(ValueError):
    """An annotation file that cannot be read or converted.

    The message is ``"SOURCE: DETAIL"``, as the annoxml tool prints it after ``annoxml:``.
    """

    def __init__(self, message: str, source: str, detail: str) -> None:
        super().__init__(message)
        #: The path of the file.
        self.source = source
        #: What is wrong with it, without the path: "Circle with Index 3: no Center".
        self.detail = detail

    def __reduce__(self):  # keeps .source and .detail across processes (DataLoader workers)
        return (type(self), (str(self), self.source, self.detail))
