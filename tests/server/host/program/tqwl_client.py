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
import sys

from impacket.dcerpc.v5 import transport
from impacket.dcerpc.v5.dtypes import LONG, LPBYTE, NULL, ULONG
from impacket.dcerpc.v5.ndr import NDRCALL, NDRSTRUCT
from impacket.uuid import uuidtup_to_bin

INTERFACES = {
    '50': uuidtup_to_bin(('A9934395-CC29-4CBA-9104-F01FC6BA6AA0', '5.0')),
    '65': uuidtup_to_bin(('55D8F461-543B-4019-9D94-54584C00ECD4', '5.0')),
}


class InvokeBlob(NDRSTRUCT):
    structure = (('size', ULONG), ('data', LPBYTE))


class GetVersion(NDRCALL):
    opnum = 0
    structure = ()


class GetVersionResponse(NDRCALL):
    structure = (('ErrorCode', LONG),)


class RemoteInvoke(NDRCALL):
    opnum = 1
    structure = (('request', InvokeBlob),)


class RemoteInvokeResponse(NDRCALL):
    structure = (('reply', InvokeBlob), ('ErrorCode', LONG))


def connect(port, iface, max_fragment=None):
    rpc = transport.DCERPCTransportFactory('ncacn_ip_tcp:127.0.0.1[%d]' % port)
    dce = rpc.get_dce_rpc()
    if max_fragment:
        dce.set_max_fragment_size(max_fragment)
    dce.connect()
    dce.bind(INTERFACES[iface])
    return dce


def main(argv):
    command, port, iface = argv[1], int(argv[2]), argv[3]
    if command == 'version':
        dce = connect(port, iface)
        answer = dce.request(GetVersion(), checkError=False)
        print(answer['ErrorCode'])
        return 0
    if command == 'invoke':
        with open(argv[4], 'rb') as f:
            data = f.read()
        max_fragment = int(argv[6]) if len(argv) > 6 else None
        dce = connect(port, iface, max_fragment)
        call = RemoteInvoke()
        call['request']['size'] = len(data)
        call['request']['data'] = data if data else NULL
        answer = dce.request(call, checkError=False)
        reply = answer['reply']
        blob = b''.join(reply['data']) if reply['data'] else b''
        with open(argv[5], 'wb') as f:
            f.write(blob)
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
