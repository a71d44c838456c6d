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
  --sound CODEC          a sound track beside the pictures: pcma, pcmu (G.711
                         at 8000 Hz), aac (mpeg4-generic), aac-latm
                         (MP4A-LATM) or g726 (G.726 at 32 kbit/s, which the
                         client does not play), a 440 Hz tone from a live
                         source; with
                         --count the sound ends with the pictures, and the
                         server prints "SOUND_SENT <n>" with the samples in
                         the RTP packets the payloader sent
  --sound-rate HZ        the AAC tone's sample rate (default 16000)
  --sound-first          the sound track comes first in the SDP
  --file PATH            serve the H.264 of an MP4 file (at its own pace)
                         instead of encoding a test picture

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


SOUND_ENCODERS = {
    "pcma": "alawenc ! rtppcmapay name={name} pt=8",
    "pcmu": "mulawenc ! rtppcmupay name={name} pt=0",
    "aac": "avenc_aac ! rtpmp4gpay name={name} pt=97",
    "aac-latm": "avenc_aac ! rtpmp4apay name={name} pt=97",
    # A codec the client does not play.
    "g726": "avenc_g726 bitrate=32000 ! rtpg726pay name={name} pt=97",
}


def sound_rate(args):
    return 8000 if args.sound in ("pcma", "pcmu", "g726") else args.sound_rate


def sound_branch(args, name):
    """The sound's part of the launch line: a live tone, encoded and payloaded."""
    rate = sound_rate(args)
    per_buffer = rate // 25  # one buffer per picture time: 40 ms
    count = " num-buffers=%d" % args.count if args.count else ""
    return ("audiotestsrc is-live=true wave=sine freq=440 volume=0.3 samplesperbuffer=%d%s"
            " ! audio/x-raw,rate=%d,channels=1 ! audioconvert ! "
            % (per_buffer, count, rate)
            + SOUND_ENCODERS[args.sound].format(name=name))


def video_payloader_name(args):
    return "pay1" if args.sound and args.sound_first else "pay0"


def pipeline_text(args):
    name = video_payloader_name(args)
    video = video_branch(args).replace("name=pay0", "name=" + name)
    if not args.sound:
        return "( " + video + " )"
    sound = sound_branch(args, "pay0" if args.sound_first else "pay1")
    return "( " + video + "  " + sound + " )"


def video_branch(args):
    if args.file:
        return ("filesrc location=%s ! qtdemux ! h264parse ! valve name=gate ! "
                "rtph264pay name=pay0 pt=96 config-interval=-1" % args.file)
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
    return ("videotestsrc is-live=true pattern=" + args.pattern + count
            + " ! video/x-raw,width=" + width + ",height=" + height
            + ",framerate=25/1 ! valve name=gate ! "
            + encoder)


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


def report_ssrc(media, name):
    """Prints "SSRC <hex>" with the pictures' SSRC when their first packet goes out."""
    pad = media.get_element().get_by_name(name).get_static_pad("src")

    def on_data(_pad, info):
        if info.type & Gst.PadProbeType.BUFFER_LIST:
            buffer = info.get_buffer_list().get(0)
        else:
            buffer = info.get_buffer()
        say("SSRC %s" % buffer.extract_dup(8, 4).hex())
        return Gst.PadProbeReturn.REMOVE

    pad.add_probe(Gst.PadProbeType.BUFFER | Gst.PadProbeType.BUFFER_LIST, on_data)


def sound_samples_in(packet, codec):
    """The samples one RTP packet of the sound carries: A-law and u-law one
    byte each; AAC 1024 per access unit (mpeg4-generic: one AU header of 16
    bits each; MP4A-LATM: one element per packet, ending with the marker)."""
    if codec in ("pcma", "pcmu"):
        return len(packet) - 12
    if codec == "aac":
        return (packet[12] << 8 | packet[13]) // 16 * 1024
    return 1024 if packet[1] & 0x80 else 0


# SETUP requests answered so far: a packet made before every stream of the
# session is set up (the one made while the media is prepared for DESCRIBE)
# has nowhere to go and is not counted as sent.
SETUPS = [0]


def count_sound(media, name, codec):
    """Counts the samples in the RTP packets the sound's payloader sends once
    both streams are set up, and prints "SOUND_SENT <n>" when the sound ends."""
    pad = media.get_element().get_by_name(name).get_static_pad("src")
    sent = [0]

    def on_data(_pad, info):
        if SETUPS[0] < 2:
            return Gst.PadProbeReturn.OK
        if info.type & Gst.PadProbeType.BUFFER_LIST:
            buffers = [info.get_buffer_list().get(i) for i in range(info.get_buffer_list().length())]
        else:
            buffers = [info.get_buffer()]
        for b in buffers:
            sent[0] += sound_samples_in(b.extract_dup(0, b.get_size()), codec)
        return Gst.PadProbeReturn.OK

    def on_event(_pad, info):
        if info.get_event().type == Gst.EventType.EOS:
            say("SOUND_SENT %d" % sent[0])
        return Gst.PadProbeReturn.OK

    pad.add_probe(Gst.PadProbeType.BUFFER | Gst.PadProbeType.BUFFER_LIST, on_data)
    pad.add_probe(Gst.PadProbeType.EVENT_DOWNSTREAM, on_event)


def count_pictures(media, name):
    """Counts the pictures the payloader sends (RTP packets with the marker
    bit) and prints "SENT <n>" when the stream ends."""
    payloader = media.get_element().get_by_name(name)
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


def count_setup(_client, _context):
    SETUPS[0] += 1


def report_requests(_server, client):
    client.connect("setup-request", report_transport)
    client.connect("setup-request", count_setup)
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
    parser.add_argument("--sound", choices=tuple(SOUND_ENCODERS))
    parser.add_argument("--sound-rate", type=int, default=16000)
    parser.add_argument("--sound-first", action="store_true")
    parser.add_argument("--file")
    args = parser.parse_args()

    Gst.init(None)
    needed = ("x265enc", "rtph265pay") if args.codec == "h265" else ("x264enc", "rtph264pay")
    if args.file:
        needed = ("filesrc", "qtdemux", "h264parse", "rtph264pay")
    if args.sound:
        needed += ("audiotestsrc", "audioconvert") + tuple(
            e.strip().split(" ")[0] for e in SOUND_ENCODERS[args.sound].split("!"))
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
    video_name = video_payloader_name(args)
    factory.connect("media-configure", lambda _f, media: report_ssrc(media, video_name))
    if args.count:
        factory.connect("media-configure", lambda _f, media: count_pictures(media, video_name))
    if args.count and args.sound:
        sound_name = "pay0" if args.sound_first else "pay1"
        factory.connect("media-configure", lambda _f, media: count_sound(media, sound_name, args.sound))
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
