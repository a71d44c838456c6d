#!/usr/bin/env python3
"""A real RTSP server for the tests: GStreamer's RTSP server streaming a live
test picture encoded by x264 or x265 (320x240 unless asked otherwise, 25
pictures per second, a key picture every 25).

Prints "PORT <n>" once it listens (on 127.0.0.1 unless asked otherwise), then
one "REQUEST <METHOD>" line for every request a client makes, so a test can
check what was sent, "TRANSPORT <value>" with the Transport header of every
SETUP (a test finds the client's UDP ports there), and "SSRC <hex>" when a
stream's first packet goes out.

Options:
  --port N               port to listen on; 0 (default) lets the system choose
  --mount PATH           mount path of the stream (default /test)
  --user U --password P  demand these credentials (Basic, or Digest with --digest)
  --digest               use Digest instead of Basic authentication
  --params-in-sdp-only   the encoder writes no SPS/PPS into the stream, so the
                         parameter sets reach a client only through the SDP's
                         sprop-parameter-sets
  --pattern NAME         videotestsrc pattern (default smpte: colour bars)
  --codec h264|h265      encoder and payloader (default h264)
  --udp-only             serve RTP over UDP only: SETUP asking for TCP
                         interleaving is answered 461 Unsupported transport
  --size WxH             picture size (default 320x240)
  --bitrate KBPS         x264's target bit rate in kbit/s, as a camera is set
                         (default: x264enc's own, 2048); the encoder's buffer
                         lets a key picture take far more than its share
  --aggregate            rtph264pay aggregate-mode=zero-latency: small units
                         (parameter sets, SEI, small slices) go in STAP-A packets
  --address ADDR         address to listen on (default 127.0.0.1; "::1" for IPv6)
  --count N              the camera makes N pictures, then stops sending (the
                         session stays up); the server prints "SENT <n>" with
                         the pictures the payloader sent (RTP markers) when
                         the stream ends. 0 (default): no end

On SIGUSR1 the streams already playing stop sending media while the server
keeps answering requests, as a camera whose encoder hung would; streams set up
later send as usual.
"""
import argparse
import signal
import sys

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtsp", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtsp, GstRtspServer  # noqa: E402


def say(line):
    print(line, flush=True)


def pipeline_text(args):
    width, height = args.size.split("x")
    codec = args.codec
    if codec == "h265":
        encoder = ("x265enc tune=zerolatency speed-preset=ultrafast key-int-max=25"
                   " ! rtph265pay name=pay0 pt=96 config-interval=-1")
    else:
        encoder = "x264enc tune=zerolatency speed-preset=ultrafast key-int-max=25"
        if args.bitrate:
            encoder += " bitrate=%d" % args.bitrate
        if args.params_in_sdp_only:
            encoder += " option-string=repeat-headers=0 ! video/x-h264,stream-format=avc"
        encoder += " ! rtph264pay name=pay0 pt=96"
        if args.aggregate:
            encoder += " aggregate-mode=zero-latency"
    count = " num-buffers=%d" % args.count if args.count else ""
    return ("( videotestsrc is-live=true pattern=" + args.pattern + count
            + " ! video/x-raw,width=" + width + ",height=" + height
            + ",framerate=25/1 ! valve name=gate ! "
            + encoder + " )")


def silence_playing_streams(medias):
    for media in medias:
        gate = media.get_element().get_by_name("gate")
        if gate is not None:
            gate.set_property("drop", True)
    say("SILENCED")
    return GLib.SOURCE_CONTINUE


def add_authentication(server, factory, user, password, digest):
    auth = GstRtspServer.RTSPAuth()
    token = GstRtspServer.RTSPToken()
    token.set_string("media.factory.role", "viewer")
    if digest:
        auth.set_supported_methods(GstRtsp.RTSPAuthMethod.DIGEST)
        auth.add_digest(user, password, token)
    else:
        auth.add_basic(GstRtspServer.RTSPAuth.make_basic(user, password), token)
    server.set_auth(auth)
    permissions = GstRtspServer.RTSPPermissions()
    permissions.add_permission_for_role("viewer", "media.factory.access", True)
    permissions.add_permission_for_role("viewer", "media.factory.construct", True)
    factory.set_permissions(permissions)


def report_transport(_client, context):
    transport = context.request.get_header(GstRtsp.RTSPHeaderField.TRANSPORT, 0)
    say("TRANSPORT %s" % (transport[1] if transport[0] == GstRtsp.RTSPResult.OK else ""))


def report_ssrc(media):
    """Prints "SSRC <hex>" with the stream's SSRC when its first packet goes out."""
    pad = media.get_element().get_by_name("pay0").get_static_pad("src")

    def on_data(_pad, info):
        if info.type & Gst.PadProbeType.BUFFER_LIST:
            buffer = info.get_buffer_list().get(0)
        else:
            buffer = info.get_buffer()
        say("SSRC %s" % buffer.extract_dup(8, 4).hex())
        return Gst.PadProbeReturn.REMOVE

    pad.add_probe(Gst.PadProbeType.BUFFER | Gst.PadProbeType.BUFFER_LIST, on_data)


def count_pictures(media):
    """Counts the pictures the payloader sends (RTP packets with the marker
    bit) and prints "SENT <n>" when the stream ends."""
    payloader = media.get_element().get_by_name("pay0")
    sent = [0]

    def on_data(_pad, info):
        if info.type & Gst.PadProbeType.BUFFER_LIST:
            buffers = [info.get_buffer_list().get(i) for i in range(info.get_buffer_list().length())]
        else:
            buffers = [info.get_buffer()]
        sent[0] += sum(1 for b in buffers if b.has_flags(Gst.BufferFlags.MARKER))
        return Gst.PadProbeReturn.OK

    def on_event(_pad, info):
        if info.get_event().type == Gst.EventType.EOS:
            say("SENT %d" % sent[0])
        return Gst.PadProbeReturn.OK

    pad = payloader.get_static_pad("src")
    pad.add_probe(Gst.PadProbeType.BUFFER | Gst.PadProbeType.BUFFER_LIST, on_data)
    pad.add_probe(Gst.PadProbeType.EVENT_DOWNSTREAM, on_event)


def report_requests(_server, client):
    client.connect("setup-request", report_transport)
    for signal, method in (("options-request", "OPTIONS"), ("describe-request", "DESCRIBE"),
                           ("setup-request", "SETUP"), ("play-request", "PLAY"),
                           ("get-parameter-request", "GET_PARAMETER"),
                           ("teardown-request", "TEARDOWN")):
        client.connect(signal, lambda _c, _ctx, m=method: say("REQUEST " + m))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--mount", default="/test")
    parser.add_argument("--user")
    parser.add_argument("--password", default="")
    parser.add_argument("--digest", action="store_true")
    parser.add_argument("--params-in-sdp-only", action="store_true")
    parser.add_argument("--pattern", default="smpte")
    parser.add_argument("--codec", choices=("h264", "h265"), default="h264")
    parser.add_argument("--udp-only", action="store_true")
    parser.add_argument("--size", default="320x240")
    parser.add_argument("--bitrate", type=int, default=0)
    parser.add_argument("--aggregate", action="store_true")
    parser.add_argument("--address", default="127.0.0.1")
    parser.add_argument("--count", type=int, default=0)
    args = parser.parse_args()

    Gst.init(None)
    needed = ("x265enc", "rtph265pay") if args.codec == "h265" else ("x264enc", "rtph264pay")
    for element in ("videotestsrc",) + needed:
        if Gst.ElementFactory.find(element) is None:
            sys.exit("GStreamer element %s is missing" % element)

    server = GstRtspServer.RTSPServer()
    server.set_address(args.address)
    server.set_service(str(args.port))
    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch(pipeline_text(args))
    if args.udp_only:
        factory.set_protocols(GstRtsp.RTSPLowerTrans.UDP)
    medias = []
    factory.connect("media-configure", lambda _f, media: medias.append(media))
    factory.connect("media-configure", lambda _f, media: report_ssrc(media))
    if args.count:
        factory.connect("media-configure", lambda _f, media: count_pictures(media))
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR1, silence_playing_streams, medias)
    if args.user is not None:
        add_authentication(server, factory, args.user, args.password, args.digest)
    server.get_mount_points().add_factory(args.mount, factory)
    server.connect("client-connected", report_requests)
    if server.attach(None) == 0:
        sys.exit("cannot listen on port %d" % args.port)
    say("PORT %d" % server.get_bound_port())
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
