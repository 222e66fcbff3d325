"""The real-OBS drivers' readiness wait, against a stand-in obs-websocket that answers 207
(not ready) to its first requests, as OBS does until it has finished loading."""
import base64, hashlib, json, socket, struct, sys, threading

sys.path.insert(0, sys.argv[1] if len(sys.argv) > 1 else ".")
from obsws import ready_client

NOT_READY = 3


def serve(listener, log):
    conn, _ = listener.accept()
    stream = conn.makefile("rb")
    key = b""
    while True:
        line = stream.readline()
        if line in (b"\r\n", b""):
            break
        if line.lower().startswith(b"sec-websocket-key:"):
            key = line.split(b":", 1)[1].strip()
    accept = base64.b64encode(hashlib.sha1(key + b"258EAFA5-E914-47DA-95CA-C5AB0DC85B11").digest())
    conn.sendall(b"HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                 b"Sec-WebSocket-Accept: " + accept + b"\r\n\r\n")

    def send(obj):
        payload = json.dumps(obj).encode()
        header = bytes([0x81, len(payload)]) if len(payload) < 126 else bytes([0x81, 126]) + struct.pack("!H", len(payload))
        conn.sendall(header + payload)

    def receive():
        head = stream.read(2)
        if len(head) < 2:
            return None
        n = head[1] & 0x7F
        if n == 126:
            n = struct.unpack("!H", stream.read(2))[0]
        mask = stream.read(4)
        return json.loads(bytes(b ^ mask[i % 4] for i, b in enumerate(stream.read(n))))

    send({"op": 0, "d": {"rpcVersion": 1}})
    receive()
    send({"op": 2, "d": {"negotiatedRpcVersion": 1}})
    while True:
        message = receive()
        if message is None:
            break
        d = message["d"]
        ready = len(log) >= NOT_READY
        log.append(d["requestType"])
        status = {"result": True, "code": 100} if ready else \
            {"result": False, "code": 207, "comment": "OBS is not ready to perform the request."}
        send({"op": 7, "d": {"requestType": d["requestType"], "requestId": d["requestId"], "requestStatus": status}})
    conn.close()


listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(1)
log = []
threading.Thread(target=serve, args=(listener, log), daemon=True).start()

client = ready_client(listener.getsockname()[1], seconds=10)
status, _ = client.request("GetVersion")
client.close()
if status.get("code") != 100 or len(log) != NOT_READY + 2:
    print("ready_client returned before OBS was ready: %r after %r" % (status, log))
    sys.exit(1)
print("ready after %d answers of 207" % NOT_READY)
