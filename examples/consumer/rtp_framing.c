/* RTP framing from C: the SDP of a PCMU stream, one talk packet turned into an RTP packet and
 * parsed back, and the payload types a camera's SDP offers. Prints what it did; exit status 0 when
 * every step gave what it should. */
#include <stdio.h>
#include <string.h>

#include <orvoaudio/rtp.h>
#include <orvoaudio/voice.h>

int main(void)
{
    char sdp[512];
    int32_t n = Orvo_SdpWriteSession(sdp, sizeof sdp, "127.0.0.1", 5004, ORVO_RTP_PT_PCMU,
                                     VOICE_G711_U, 20, ORVO_SDP_SENDONLY);
    if (n <= 0)
        return 1;
    printf("%s", sdp);

    /* A talk packet as Orvo_GetAudioTalkData hands it out: 0x80 0x06, then one voice frame. */
    int16_t pcm[160];
    for (int i = 0; i < 160; ++i)
        pcm[i] = (int16_t)((i % 40) * 400 - 8000);
    VoiceCodecState encoder;
    unsigned char talk[2 + 484] = {0x80, 0x06};
    HI_VOICE_EncReset(&encoder, VOICE_G711_U);
    if (HI_VOICE_EncodeFrame(&encoder, pcm, talk + 2, 160) != 0)
        return 1;

    OrvoRtpSender sender;
    unsigned char rtp[ORVO_RTP_PACKET_MAX];
    if (Orvo_RtpSenderInit(&sender, VOICE_G711_U, ORVO_RTP_PT_AUTO, 0) != ORVO_RTP_OK)
        return 1;
    int32_t length = Orvo_RtpFromTalkPacket(&sender, talk, 166, rtp, sizeof rtp);
    OrvoRtpHeader header;
    if (length != 172 || Orvo_RtpParse(rtp, length, &header) != ORVO_RTP_OK)
        return 1;
    printf("rtp: %d bytes, pt %d, seq %u, ts %u, ssrc %08x, marker %d, payload %d bytes\n",
           (int)length, header.payload_type, header.sequence, (unsigned)header.timestamp,
           (unsigned)header.ssrc, header.marker, (int)header.payload_length);

    const char *offer = "v=0\r\ns=cam\r\nt=0 0\r\nm=audio 0 RTP/AVP 0 97\r\n"
                        "a=rtpmap:97 AAL2-G726-32/8000\r\na=sendonly\r\na=control:trackID=2\r\n";
    OrvoSdpMedia media[2];
    if (Orvo_SdpRead(offer, (int32_t)strlen(offer), media, 2) != 1)
        return 1;
    for (int32_t i = 0; i < media[0].payload_count; ++i)
        printf("offer: pt %d %s/%d -> codec %d\n", (int)media[0].payload_types[i],
               media[0].encoding[i], (int)media[0].clock_rate[i], media[0].voice_type[i]);
    return media[0].voice_type[1] == VOICE_G726_32K_MSB ? 0 : 1;
}
