# The demo suite's shutdown script. ZOR runs it (with /bin/sh, from its
# working directory) as the very last step of its end, after it has waited
# for the processes it started. It stops the simulated programs that ZOR
# never tells to quit: the serial-to-UDP bridges (each at its -confsock port)
# and the RTCM and IMU loggers (5081, 5083) are sent "$ZQPEL,24,\n\r", one
# datagram each.
ports=$(ps -u "$(id -u)" -o args= |
        sed -n 's/.*RStoUDP\.exe .*-confsock \([0-9][0-9]*\).*/\1/p')
exec python3 - $ports 5081 5083 <<'PY'
import socket, sys
with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
    for port in sys.argv[1:]:
        s.sendto(b"$ZQPEL,24,\n\r", ("127.0.0.1", int(port)))
PY
