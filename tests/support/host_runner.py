#!/usr/bin/env python3
"""Runs Linux programs for Windows test programs under Wine.

Windows test programs cannot start the Linux tools (the recording maker,
ffmpeg, ffprobe, the GStreamer RTSP server). The Windows test script starts
this runner on 127.0.0.1, reads "PORT <n>" from it and passes the port in
H264_HOST_RUNNER_PORT. One request per connection, fields NUL-separated:

  run\\0PROGRAM\\0ARG...      -> "<exit status>\\n" then the combined output
  spawn\\0LOG\\0PROGRAM\\0ARG... -> "<pid>\\n" (output goes to the file LOG)
  signal\\0PID\\0NUMBER       -> "0\\n" or "-1\\n"

Arguments of the form Z:\\path or Z:/path are Wine's names of Linux paths and
are passed on as /path. PROGRAM make_recording is the Linux build's one
(H264_LINUX_TOOLS_DIR); other bare names are looked up on PATH.
"""
import os
import signal
import socket
import subprocess
import sys
import threading

tools = os.environ.get("H264_LINUX_TOOLS_DIR", "")
children = []


def unix_path(arg):
    if len(arg) > 2 and arg[0] in "Zz" and arg[1] == ":" and arg[2] in "\\/":
        return arg[2:].replace("\\", "/")
    return arg


def program_path(name):
    if name == "make_recording" and tools:
        return os.path.join(tools, name)
    if name == "python3":
        return "/usr/bin/python3"  # the interpreter that has python3-gi
    return unix_path(name)


def receive_all(connection):
    chunks = []
    while True:
        data = connection.recv(65536)
        if not data:
            return b"".join(chunks)
        chunks.append(data)


def answer(connection):
    with connection:
        fields = [f.decode("utf-8", "surrogateescape") for f in receive_all(connection).split(b"\0")]
        try:
            if fields[0] == "run":
                args = [program_path(fields[1])] + [unix_path(a) for a in fields[2:]]
                done = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                      stdin=subprocess.DEVNULL)
                connection.sendall(b"%d\n" % done.returncode + done.stdout)
            elif fields[0] == "spawn":
                args = [program_path(fields[2])] + [unix_path(a) for a in fields[3:]]
                with open(unix_path(fields[1]), "wb") as log:
                    child = subprocess.Popen(args, stdout=log, stderr=subprocess.STDOUT,
                                             stdin=subprocess.DEVNULL)
                children.append(child)
                connection.sendall(b"%d\n" % child.pid)
            elif fields[0] == "signal":
                os.kill(int(fields[1]), int(fields[2]))
                for child in children:
                    if child.pid == int(fields[1]):
                        threading.Thread(target=child.wait, daemon=True).start()
                connection.sendall(b"0\n")
            else:
                connection.sendall(b"-1\nunknown request\n")
        except (OSError, IndexError, ValueError) as error:
            connection.sendall(b"-1\n" + str(error).encode())


def main():
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(16)
    print("PORT %d" % server.getsockname()[1], flush=True)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        while True:
            connection, _ = server.accept()
            threading.Thread(target=answer, args=(connection,), daemon=True).start()
    finally:
        for child in children:
            if child.poll() is None:
                child.kill()


if __name__ == "__main__":
    main()
