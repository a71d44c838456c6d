#!/usr/bin/env python3
"""A real RTSP server for the tests: GStreamer's RTSP server streaming a live
test picture encoded by x264 or x265 (320x240 unless asked otherwise, 25
pictures per second, a key picture every 25).

Prints "PORT <n>" once it listens on 127.0.0.1, then one "REQUEST <METHOD>"
line for every request a client makes, so a test can check what was sent.

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


def pipeline_text(params_in_sdp_only, pattern, codec, size):
    width, height = size.split("x")
    if codec == "h265":
        encoder = ("x265enc tune=zerolatency speed-preset=ultrafast key-int-max=25"
                   " ! rtph265pay name=pay0 pt=96 config-interval=-1")
    else:
        encoder = "x264enc tune=zerolatency speed-preset=ultrafast key-int-max=25"
        if params_in_sdp_only:
            encoder += " option-string=repeat-headers=0 ! video/x-h264,stream-format=avc"
        encoder += " ! rtph264pay name=pay0 pt=96"
    return ("( videotestsrc is-live=true pattern=" + pattern
            + " ! video/x-raw,width=" + width + ",height=" + height
            + ",framerate=25/1 ! valve name=gate ! " + encoder + " )")


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


def report_requests(_server, client):
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
    args = parser.parse_args()

    Gst.init(None)
    needed = ("x265enc", "rtph265pay") if args.codec == "h265" else ("x264enc", "rtph264pay")
    for element in ("videotestsrc",) + needed:
        if Gst.ElementFactory.find(element) is None:
            sys.exit("GStreamer element %s is missing" % element)

    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service(str(args.port))
    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch(pipeline_text(args.params_in_sdp_only, args.pattern, args.codec, args.size))
    if args.udp_only:
        factory.set_protocols(GstRtsp.RTSPLowerTrans.UDP)
    medias = []
    factory.connect("media-configure", lambda _f, media: medias.append(media))
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
