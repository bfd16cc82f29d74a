#!/usr/bin/python3
"""Writes the seed corpus of the fuzz target into corpus/ (see peer_bytes_fuzzer.cpp for the
script format). Run from anywhere; existing seeds of the same name are overwritten, inputs the
fuzzer once failed on (named crash-*) are left alone."""

from pathlib import Path

PLAIN, FRAMED = b"\x00", b"\x01"


def read(data: bytes) -> bytes:
    """One socket read of `data` (longer data becomes several reads of 255 bytes)."""
    out = b""
    for start in range(0, max(len(data), 1), 255):
        chunk = data[start:start + 255]
        out += b"\x00" + bytes([len(chunk)]) + chunk
    return out


def run(value: int, count: int) -> bytes:
    """One read of `count` (0-255) copies of `value`."""
    return b"\x01" + bytes([value, count])


def trickle(data: bytes) -> bytes:
    assert len(data) < 256
    return b"\x02" + bytes([len(data)]) + data


RESET = b"\x03"


def limit(frame_bytes: int, framed: bool) -> bytes:
    """The setup byte of a script read with a frame limit of `frame_bytes` (1-127)."""
    return bytes([frame_bytes << 1 | int(framed)])

ZONES = [b"01" + b"5", b"02" + b"8000", b"03" + b"35", b"04Mirror Force", b"05",
         b"06Pot of Greed", b"07Trap Hole", b"08Swords of Revealing Light",
         b"09Thousand Dragon\r\nFlame Swordsman\r\n", b"10Kuriboh\r\nDark Magician\r\n",
         b"11Blue-Eyes White Dragon (ATK)", b"12Celtic Guardian (DEF)", b"13", b"14Face-down",
         b"15Summoned Skull", b"16Yami"]
OTHERS = [b"17Yugi: your move", b"18Connected", b"18Disconnected",
          b"19Coin flip: Heads", b"20skarnet/1", b"99unknown", b"2", b"0"]


def frames(*messages: bytes) -> bytes:
    return b"".join(m + b"\x00" for m in messages)


SEEDS = {
    # Plain peer: one read per message, every code of the table and some that are not.
    "plain_zones": PLAIN + b"".join(read(m) for m in ZONES),
    "plain_chat_status_announcement": PLAIN + b"".join(read(m) for m in OTHERS),
    "plain_windows1252": PLAIN + read(b"17Joey: \x93quoted\x94 \x80 5\x96 \x81\x8d\x8f\x90\x9d")
    + read(bytes(range(1, 256))),
    "plain_line_breaks": PLAIN + read(b"10a\r\n\r\nb\rc\nd\n\r") + read(b"\r") + read(b"17\r\n"),
    "plain_merged_reads": PLAIN + read(b"0240000335") + read(b"17a: hi17b: hi"),
    "plain_long_read": PLAIN + run(ord("x"), 255) + run(ord("y"), 0) + read(b"18Connected"),
    "plain_one_byte_reads": PLAIN + trickle(b"18Connected"),
    # The two sides of the greeting, as each reader sees the other side's stream.
    "handshake_accepting_side": PLAIN + read(b"20skarnet/1\x00") + read(b"\x00")
    + read(frames(b"0240", b"17Kaiba: ready")),
    "handshake_connecting_side": PLAIN + read(b"18Connected") + read(b"\x0020skarnet/1\x00")
    + read(frames(b"02\xe2\x82\xac 8000", b"18Disconnected")),
    "handshake_one_read": PLAIN + read(b"18Connected\x0020skarnet/1\x0017hi\x00"),
    "handshake_one_byte_reads": PLAIN + trickle(b"18Connected\x0020skarnet/1\x0017x\x000333\x00"),
    # Framed from the first read.
    "framed_zones": FRAMED + read(frames(*ZONES)),
    "framed_chat_status_announcement": FRAMED + read(frames(*OTHERS)),
    "framed_utf8": FRAMED + read(frames("17Yugi: ça va? 🃏 Ω".encode(),
                                        "10Ré\r\nDragon 🐉\r\n".encode(), "19Würfel: 6".encode())),
    "framed_split_frames": FRAMED + read(b"17Yugi: hel") + read(b"lo\x0010Ku") + read(b"")
    + read(b"riboh\r") + read(b"\n\x00") + read("17🃏".encode()[:4]) + read("🃏".encode()[2:] + b"\x00"),
    "framed_keepalive": FRAMED + read(b"\x00") + read(b"\x00\x00\x00") + read(b"0240\x00\x00\x000339\x00")
    + trickle(b"\x00\x00"),
    "framed_invalid_utf8": FRAMED + read(b"17\xff\xfe\xc0\x80\x00" + b"17\xed\xa0\x80\xed\xb0\x80\x00"
                                         + b"17\xf4\x90\x80\x80\x00" + b"17cut \xe2\x82\x00\x80\x00"),
    "framed_code_cuts_surrogate_pair": FRAMED + read(frames(" 🃏 Ω".encode(), "🃏17x".encode(), "1🃏".encode())),
    "framed_byte_order_mark": FRAMED + read(b"\xef\xbb\xbf\x00\xef\xbb\xbf17hi\x00\xef\xbb\xbf\xef\xbb\xbf\x00"),
    # Steps of a draw made by both copies, well-formed and not.
    "framed_draw_steps": FRAMED + read(frames(
        b"211 6 " + b"ab" * 32, b"221 " + b"cd" * 32, b"231 " + b"ef" * 16 + b" " + b"01" * 32,
        b"2107 2 " + b"ab" * 32, b"221 " + b"CD" * 32, b"23-1 x y", b"21", b"22 ")),
    "framed_line_breaks": FRAMED + read(frames(b"10a\r\n\r\nb\rc\nd\n\r", b"09\r\r\n\n", b"17\r")),
    "framed_plain_text_after_switch": FRAMED + read(b"18Connected"),
    # NUL floods: a plain read of NULs switches once, the rest are keep-alives.
    "nul_flood_plain": PLAIN + read(b"18Connected" + b"\x00" * 200) + run(0, 255) * 3 + read(b"17x\x00"),
    "nul_flood_framed": FRAMED + run(0, 255) * 4 + read(b"0240\x00"),
    # The frame limit (the link's own megabyte is checked once per run of the target).
    "frame_at_limit": limit(16, framed=True) + run(ord("A"), 14) + read(b"BC\x00") + read(b"18Connected\x00"),
    "frame_at_limit_one_read": limit(16, framed=True) + read(b"A" * 16 + b"\x0017after\x00"),
    "frame_over_limit": limit(16, framed=True) + run(ord("A"), 16) + read(b"B\x00") + read(b"17ignored\x00"),
    "frame_over_limit_one_read": limit(16, framed=True) + read(b"17before\x00" + b"A" * 17),
    "frame_over_limit_then_reset": limit(16, framed=True) + run(0xC3, 16) + trickle(b"\xa9\x00") + RESET
    + read(b"18Connected") + read(b"\x0017again\x00"),
    "plain_over_limit_then_framed": limit(16, framed=False) + run(ord("P"), 40) + read(b"\x00") + run(ord("F"), 16)
    + read(b"\x00"),
    "utf8_at_limit": limit(8, framed=True) + read("17éé\x00".encode() + "17ééé\x00".encode() + b"x"),
    # A small frame limit (set by the first byte), met and passed in one read or over several.
    "small_limit_frames": limit(5, framed=True) + read(b"17abc\x00") + read(b"1") + read(b"7ab")
    + read(b"c\x00") + read(b"17abcd\x00") + RESET + read(b"\x0017x\x00"),
    "small_limit_one_byte_reads": limit(3, framed=True) + trickle(b"123\x00\x00") + trickle(b"1234\x00")
    + RESET + trickle(b"\x00abc"),
    "small_limit_plain_reads": limit(2, framed=False) + read(b"18Connected") + read(b"\x00ab\x00abc\x00"),
    # A link that ends in the middle of a frame and starts again plain.
    "reset_mid_frame": FRAMED + read(b"17half a fra") + RESET + read(b"me") + read(b"18Connected")
    + RESET + RESET + read(b"\x0018Disconnected\x00"),
    # Bytes that read as UTF-16 hold surrogate pairs, lone surrogates and CR LF.
    "utf16_surrogates": b"\x00\x3d\xd8\x0c\xdc\x00\xd8\x41\x00\x00\xdc\x0d\x00\x0a\x00\x0d\x00"
    + b"\xac\x20\x3d\xd8\x0d\x00\xff\xdb\xff\xdf\x00\xd8",
}


def main() -> None:
    corpus = Path(__file__).resolve().parent / "corpus"
    corpus.mkdir(exist_ok=True)
    for name, data in SEEDS.items():
        (corpus / name).write_bytes(data)


if __name__ == "__main__":
    main()
