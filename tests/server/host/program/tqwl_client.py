"""Calls a running TQWL with impacket, an RPC client this project did not write.

Usage:
  tqwl_client.py version <port> <50|65>
      prints the value GetVersion returns
  tqwl_client.py invoke <port> <50|65> <request file> <reply file> [max fragment]
      sends the request file's bytes as RemoteInvoke's blob and writes the
      reply blob's bytes to the reply file; prints "<return value> <size>"
      and "null" when the reply pointer was null
Exits 0 when the calls went through, 1 otherwise (with the reason printed).
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', '..', 'support'))
from tq_rpc import IF50, IF65, GetVersion, connect, remote_invoke, reply_bytes  # noqa: E402

INTERFACES = {'50': IF50, '65': IF65}


def main(argv):
    command, port, iface = argv[1], int(argv[2]), argv[3]
    if command == 'version':
        dce = connect(port, INTERFACES[iface])
        answer = dce.request(GetVersion(), checkError=False)
        print(answer['ErrorCode'])
        return 0
    if command == 'invoke':
        with open(argv[4], 'rb') as f:
            data = f.read()
        max_fragment = int(argv[6]) if len(argv) > 6 else None
        dce = connect(port, INTERFACES[iface], max_fragment=max_fragment)
        answer = remote_invoke(dce, data)
        reply = answer['reply']
        with open(argv[5], 'wb') as f:
            f.write(reply_bytes(answer))
        value = answer['ErrorCode'] & 0xFFFFFFFF
        print('%d %d%s' % (value, reply['size'], '' if reply['data'] else ' null'))
        return 0
    print('unknown command ' + command)
    return 1


if __name__ == '__main__':
    try:
        sys.exit(main(sys.argv))
    except Exception as error:  # the test prints whatever went wrong
        print('failed: %r' % (error,))
        sys.exit(1)
