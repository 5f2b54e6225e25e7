# SPDX-License-Identifier: MIT
import os
from typing import IO, Iterator, Literal, Optional, Tuple, Union, overload

_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
_Source = Union[_Path, IO[bytes]]

__version__: str

class Error(Exception):
    status: int
    message: str

class FormatError(Error): ...
class NoContentError(Error): ...
class ReadError(Error): ...
class WriteError(Error): ...
class UsageError(Error, ValueError): ...
class NameWarning(UserWarning): ...

class RecordIterator(Iterator[Tuple[str, str]]):
    def __next__(self) -> Tuple[str, str]: ...
    def close(self) -> None: ...
    def __enter__(self) -> "RecordIterator": ...
    def __exit__(self, *exc: object) -> Literal[False]: ...

@overload
def convert(
    src: _Source,
    dst: None = ...,
    *,
    line_length: int = ...,
    one_line: bool = ...,
    upper: bool = ...,
    drop_n: bool = ...,
    compress: Optional[Literal["gzip", "zstd", "none"]] = ...,
    level: Optional[int] = ...,
    threads: Optional[int] = ...,
    index: bool = ...,
    dict: bool = ...,
) -> bytes: ...
@overload
def convert(
    src: _Source,
    dst: Union[_Path, IO[bytes]],
    *,
    line_length: int = ...,
    one_line: bool = ...,
    upper: bool = ...,
    drop_n: bool = ...,
    compress: Optional[Literal["gzip", "zstd", "none"]] = ...,
    level: Optional[int] = ...,
    threads: Optional[int] = ...,
    index: bool = ...,
    dict: bool = ...,
) -> None: ...
@overload
def records(
    src: _Source, *, upper: bool = ..., drop_n: bool = ..., binary: Literal[False] = ...
) -> RecordIterator: ...
@overload
def records(
    src: _Source, *, upper: bool = ..., drop_n: bool = ..., binary: Literal[True]
) -> Iterator[Tuple[bytes, bytes]]: ...
