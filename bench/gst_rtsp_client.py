#!/usr/bin/env python3
"""GStreamer as the reference RTSP client for bench/live_stream.cpp.

  gst_rtsp_client.py URL tcp|udp h264|h265 first
      prints "FIRST_MS <ms>": from starting the pipeline to the first decoded picture
  gst_rtsp_client.py URL tcp|udp h264|h265 cpu SECONDS
      prints "CPU_PERCENT <p> PICTURES <n>": this process's CPU time over SECONDS of decoding
  gst_rtsp_client.py URL tcp|udp h264 first-sound
      prints "FIRST_SOUND_MS <ms>": from starting the pipeline to the first decoded sound
"""
import resource
import sys
import time

import gi

gi.require_version("Gst", "1.0")
from gi.repository import GLib, Gst  # noqa: E402


def first_sound(url, protocol):
    """Every stream of the session decoded by decodebin; the time of the first sound."""
    pipeline = Gst.Pipeline()
    source = Gst.ElementFactory.make("rtspsrc")
    source.set_property("location", url)
    source.set_property("protocols", protocol)
    source.set_property("latency", 0)
    pipeline.add(source)
    loop = GLib.MainLoop()
    state = {"first_ms": None}
    start = time.monotonic()

    def on_decoded(_bin, pad):
        sink = Gst.ElementFactory.make("fakesink")
        sink.set_property("sync", False)
        caps = pad.get_current_caps() or pad.query_caps(None)
        if caps.to_string().startswith("audio/"):
            sink.set_property("signal-handoffs", True)

            def on_sound(*_):
                if state["first_ms"] is None:
                    state["first_ms"] = (time.monotonic() - start) * 1000
                    GLib.idle_add(loop.quit)

            sink.connect("handoff", on_sound)
        pipeline.add(sink)
        sink.sync_state_with_parent()
        pad.link(sink.get_static_pad("sink"))

    def on_stream(_source, pad):
        decoder = Gst.ElementFactory.make("decodebin")
        decoder.connect("pad-added", on_decoded)
        pipeline.add(decoder)
        decoder.sync_state_with_parent()
        pad.link(decoder.get_static_pad("sink"))

    source.connect("pad-added", on_stream)
    pipeline.set_state(Gst.State.PLAYING)
    GLib.timeout_add(20000, loop.quit)
    loop.run()
    pipeline.set_state(Gst.State.NULL)
    print("FIRST_SOUND_MS %.1f" % (state["first_ms"] if state["first_ms"] is not None else -1))


def main():
    url, protocol, codec, mode = sys.argv[1:5]
    if mode == "first-sound":
        Gst.init(None)
        first_sound(url, protocol)
        return
    seconds = float(sys.argv[5]) if len(sys.argv) > 5 else 0
    Gst.init(None)
    depay = "rtph265depay ! h265parse ! avdec_h265" if codec == "h265" else "rtph264depay ! h264parse ! avdec_h264"
    pipeline = Gst.parse_launch(
        "rtspsrc location=%s protocols=%s latency=0 ! %s max-threads=2 ! fakesink name=sink signal-handoffs=true sync=false"
        % (url, protocol, depay))
    loop = GLib.MainLoop()
    state = {"pictures": 0, "first_ms": None}
    start = time.monotonic()

    def on_picture(*_):
        state["pictures"] += 1
        if state["first_ms"] is None:
            state["first_ms"] = (time.monotonic() - start) * 1000
            if mode == "first":
                GLib.idle_add(loop.quit)

    pipeline.get_by_name("sink").connect("handoff", on_picture)
    usage_before = resource.getrusage(resource.RUSAGE_SELF)
    pipeline.set_state(Gst.State.PLAYING)
    GLib.timeout_add(int((seconds if mode == "cpu" else 20) * 1000), loop.quit)
    loop.run()
    usage_after = resource.getrusage(resource.RUSAGE_SELF)
    wall = time.monotonic() - start
    pipeline.set_state(Gst.State.NULL)
    if mode == "first":
        print("FIRST_MS %.1f" % (state["first_ms"] if state["first_ms"] is not None else -1))
    else:
        cpu = (usage_after.ru_utime - usage_before.ru_utime) + (usage_after.ru_stime - usage_before.ru_stime)
        print("CPU_PERCENT %.1f PICTURES %d" % (100 * cpu / wall, state["pictures"]))


if __name__ == "__main__":
    main()
