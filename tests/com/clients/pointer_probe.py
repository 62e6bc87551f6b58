"""The mouse as the X server has it, for a client under Wine on the same display.

Listens on 127.0.0.1 and prints its port. One connection, one command per line:
  move X Y   moves the pointer there as a user's mouse would (XTEST); answers "ok"
  cursor     answers a digest of the cursor image the server shows now (XFIXES)
"""

import hashlib
import socket
import sys

from Xlib import X, display
from Xlib.ext import xtest


def main():
    screen = display.Display()
    if not screen.has_extension("XTEST") or not screen.has_extension("XFIXES"):
        sys.exit("the display has no XTEST or XFIXES")
    screen.xfixes_query_version()
    listener = socket.create_server(("127.0.0.1", 0))
    print(listener.getsockname()[1], flush=True)
    conn, _ = listener.accept()
    with conn, conn.makefile("rw", newline="\n") as lines:
        for line in lines:
            words = line.split()
            if words[:1] == ["move"] and len(words) == 3:
                xtest.fake_input(screen, X.MotionNotify, x=int(words[1]), y=int(words[2]))
                screen.sync()
                answer = "ok"
            elif words == ["cursor"]:
                image = screen.xfixes_get_cursor_image(screen.screen().root)
                seen = (image.width, image.height, image.xhot, image.yhot, tuple(image.cursor_image))
                answer = hashlib.sha1(repr(seen).encode()).hexdigest()
            else:
                answer = "unknown command"
            lines.write(answer + "\n")
            lines.flush()


if __name__ == "__main__":
    main()
