"""A minimal obs-websocket 5 client for the real-OBS tests: just enough of RFC 6455 (text
frames, masked from the client) and of obs-websocket's Hello, Identify and Request."""
import base64, json, os, socket, struct, time


class WebSocket:
    def __init__(self, port, timeout=10, path="/", protocol="obswebsocket.json"):
        self.sock = self._connect(port, timeout)
        key = base64.b64encode(os.urandom(16)).decode()
        protocol_line = "Sec-WebSocket-Protocol: %s\r\n" % protocol if protocol else ""
        self.sock.sendall(("GET %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                           "Sec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\n%s\r\n" % (path, port, key, protocol_line)).encode())
        self.file = self.sock.makefile("rb")
        status = self.file.readline()
        if b" 101 " not in status:
            raise RuntimeError("no WebSocket upgrade: %r" % status)
        while self.file.readline() not in (b"\r\n", b""):
            pass

    @staticmethod
    def _connect(port, timeout):
        # obs-websocket opens its port a moment after OBS logs that it loaded it.
        end = time.monotonic() + timeout
        while True:
            try:
                return socket.create_connection(("127.0.0.1", port), timeout=timeout)
            except ConnectionRefusedError:
                if time.monotonic() > end:
                    raise
                time.sleep(0.1)

    def send(self, obj, opcode=1):
        payload = json.dumps(obj).encode() if opcode == 1 else obj
        mask = os.urandom(4)
        n = len(payload)
        header = bytes([0x80 | opcode])
        if n < 126:
            header += bytes([0x80 | n])
        elif n < 65536:
            header += bytes([0x80 | 126]) + struct.pack("!H", n)
        else:
            header += bytes([0x80 | 127]) + struct.pack("!Q", n)
        self.sock.sendall(header + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload)))

    def receive(self):
        while True:
            first, second = self.file.read(2)
            opcode, n = first & 0x0F, second & 0x7F
            if n == 126:
                n = struct.unpack("!H", self.file.read(2))[0]
            elif n == 127:
                n = struct.unpack("!Q", self.file.read(8))[0]
            payload = self.file.read(n)
            if opcode == 9:
                self.send(payload, opcode=10)
            elif opcode == 8:
                raise RuntimeError("closed by the server: %r" % payload)
            elif opcode == 1:
                return json.loads(payload)

    def close(self):
        self.sock.close()


class Client:
    """One identified obs-websocket session; events it receives are kept in `events`."""

    def __init__(self, port, subscriptions=0):
        self.ws = WebSocket(port)
        self.events = []
        self.event_times = []  # time.monotonic() of each event's arrival
        self.serial = 0
        hello = self.ws.receive()
        if hello.get("op") != 0:
            raise RuntimeError("no Hello: %r" % hello)
        self.ws.send({"op": 1, "d": {"rpcVersion": 1, "eventSubscriptions": subscriptions}})
        identified = self.ws.receive()
        if identified.get("op") != 2:
            raise RuntimeError("not identified: %r" % identified)

    def request(self, request_type, data=None):
        """The request's (requestStatus, responseData)."""
        self.serial += 1
        rid = "r%d" % self.serial
        self.ws.send({"op": 6, "d": {"requestType": request_type, "requestId": rid, "requestData": data or {}}})
        while True:
            message = self.ws.receive()
            if message.get("op") == 5:
                self.events.append(message["d"])
                self.event_times.append(time.monotonic())
            elif message.get("op") == 7 and message["d"].get("requestId") == rid:
                return message["d"].get("requestStatus", {}), message["d"].get("responseData", {})

    def close(self):
        self.ws.close()


def ready_client(port, subscriptions=0, seconds=60):
    """An identified session once OBS has finished loading; every driver starts with it.
    Until then obs-websocket answers every request with 207 (not ready), whatever OBS's log
    says already."""
    client = Client(port, subscriptions)
    end = time.monotonic() + seconds
    while True:
        status, _ = client.request("GetSceneList")
        if status.get("code") != 207:
            return client
        if time.monotonic() > end:
            client.close()
            raise RuntimeError("obs-websocket never said OBS was ready")
        time.sleep(0.1)
