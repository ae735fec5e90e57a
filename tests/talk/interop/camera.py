#!/usr/bin/python3
"""A test camera: GStreamer's RTSP server with the ONVIF audio back channel.

The camera's audio track plays SPEECH (8000 Hz mono WAV) in the chosen codec, 20 ms per packet;
what arrives on the back channel is decoded and written to RECORD (WAV) when the camera stops
(after --seconds, or on SIGTERM / SIGINT). The port it listens on (loopback, chosen by the
system) is written to --port-file once it accepts connections. Requests it serves are logged on
stdout, one line each ("request TEARDOWN"), so a test can see the session's life.

  camera.py --codec pcmu|pcma|g726-32 [--aal2] --speech IN.wav --record OUT.wav --port-file F
            [--auth none|digest|basic --user U --password P] [--tcp] [--seconds N]
"""
import argparse
import os
import signal
import sys
import wave

try:
    import gi
    gi.require_version("Gst", "1.0")
    gi.require_version("GstRtsp", "1.0")
    gi.require_version("GstRtspServer", "1.0")
    from gi.repository import GLib, Gst, GstRtsp, GstRtspServer
except (ImportError, ValueError) as e:  # the test driver skips on this status
    print("camera.py: GStreamer's Python bindings are missing: %s" % e, file=sys.stderr)
    sys.exit(77)

PTIME_NS = 20 * 1000 * 1000

# codec -> (encoder, payloader, depayloader, decoder, encoding name, payload type)
CODECS = {
    "pcmu": ("mulawenc", "rtppcmupay", "rtppcmudepay", "mulawdec", "PCMU", 0),
    "pcma": ("alawenc", "rtppcmapay", "rtppcmadepay", "alawdec", "PCMA", 8),
    "g726-32": ("avenc_g726 bitrate=32000", "rtpg726pay", "rtpg726depay", "avdec_g726", "G726-32", 97),
}


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--codec", choices=sorted(CODECS), required=True)
    p.add_argument("--aal2", action="store_true",
                   help="G.726 packed MSB-first under the name G726-32 (GStreamer's default)")
    p.add_argument("--speech", required=True)
    p.add_argument("--record", required=True)
    p.add_argument("--port-file", required=True)
    p.add_argument("--auth", choices=["none", "digest", "basic"], default="none")
    p.add_argument("--user", default="admin")
    p.add_argument("--password", default="secret")
    p.add_argument("--tcp", action="store_true")
    p.add_argument("--seconds", type=float, default=30)
    p.add_argument("--session-timeout", type=int, default=0,
                   help="seconds a session lives without a request (0: GStreamer's 60)")
    p.add_argument("--no-backchannel", action="store_true", help="an ONVIF camera without one")
    p.add_argument("--backchannel-codec", choices=["same", "l16"], default="same",
                   help="l16: a back channel that takes only 16-bit linear audio at 44100 Hz")
    a = p.parse_args()

    Gst.init(None)
    enc, pay, depay, dec, name, pt = CODECS[a.codec]
    packing = ""
    if a.codec.startswith("g726"):
        packing = " force-aal2=%s" % ("true" if a.aal2 else "false")
    raw = a.record + ".raw"
    launch = ("( filesrc location=%s ! wavparse ! audioconvert ! audioresample ! "
              "audio/x-raw,format=S16LE,rate=8000,channels=1 ! %s ! %s name=pay0 pt=%d "
              "min-ptime=%d max-ptime=%d%s )" % (a.speech, enc, pay, pt, PTIME_NS, PTIME_NS, packing))
    back = ("( capsfilter caps=\"application/x-rtp, media=audio, payload=%d, clock-rate=8000, "
            "encoding-name=%s\" name=depay_backchannel ! %s%s ! %s ! audioconvert ! "
            "audio/x-raw,format=S16LE,rate=8000,channels=1 ! filesink async=false buffer-mode=unbuffered location=%s )"
            % (pt, name, depay, packing, dec, raw))

    server = GstRtspServer.RTSPOnvifServer.new()
    server.set_address("127.0.0.1")
    server.set_service("0")
    factory = GstRtspServer.RTSPOnvifMediaFactory.new()
    factory.set_media_gtype(GstRtspServer.RTSPOnvifMedia)
    factory.set_shared(False)
    factory.set_launch(launch)
    if a.backchannel_codec == "l16":
        back = ("( capsfilter caps=\"application/x-rtp, media=audio, payload=96, clock-rate=44100, "
                "encoding-name=L16, channels=1\" name=depay_backchannel ! rtpL16depay ! "
                "fakesink async=false )")
    if not a.no_backchannel:
        factory.set_backchannel_launch(back)
    if a.tcp:
        factory.set_protocols(GstRtsp.RTSPLowerTrans.TCP)
    if a.auth != "none":
        auth = GstRtspServer.RTSPAuth.new()
        token = GstRtspServer.RTSPToken.new()
        token.set_string("media.factory.role", "user")
        if a.auth == "digest":
            auth.set_supported_methods(GstRtsp.RTSPAuthMethod.DIGEST)
            auth.add_digest(a.user, a.password, token)
        else:
            auth.set_supported_methods(GstRtsp.RTSPAuthMethod.BASIC)
            auth.add_basic(GstRtspServer.RTSPAuth.make_basic(a.user, a.password), token)
        server.set_auth(auth)
        factory.add_role_from_structure(Gst.Structure.from_string(
            "user, media.factory.access=(boolean)true, media.factory.construct=(boolean)true")[0])
    server.get_mount_points().add_factory("/camera", factory)

    def log(what):
        print(what, flush=True)

    def on_client(_server, client):
        for method in ("describe", "setup", "play", "teardown", "get-parameter", "options"):
            client.connect(method + "-request",
                           lambda _c, _ctx, m=method: log("request " + m.upper().replace("-", "_")))

        if a.session_timeout > 0:
            client.connect("new-session", lambda _c, session: session.set_timeout(a.session_timeout))

    server.connect("client-connected", on_client)
    loop = GLib.MainLoop()
    if server.attach(None) == 0:
        print("camera.py: cannot start the RTSP server", file=sys.stderr)
        return 1
    with open(a.port_file + ".tmp", "w") as f:
        f.write("%d\n" % server.get_bound_port())
    os.replace(a.port_file + ".tmp", a.port_file)

    GLib.timeout_add(int(a.seconds * 1000), loop.quit)
    for sig in (signal.SIGTERM, signal.SIGINT):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, sig, loop.quit)
    loop.run()

    # The back channel's filesink holds every sample written; a WAV of it for the comparison.
    try:
        with open(raw, "rb") as f:
            samples = f.read()
    except FileNotFoundError:
        samples = b""
    with wave.open(a.record, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(8000)
        w.writeframes(samples[: len(samples) // 2 * 2])
    log("recorded %d samples" % (len(samples) // 2))
    return 0


if __name__ == "__main__":
    sys.exit(main())
