"""The server's two RPC interfaces as impacket sees them, for the test
clients that call a server over ncacn_ip_tcp.

A client script puts this folder on sys.path, relative to itself.
"""
from impacket.dcerpc.v5 import transport
from impacket.dcerpc.v5.dtypes import LONG, LPBYTE, NULL, ULONG
from impacket.dcerpc.v5.ndr import NDRCALL, NDRSTRUCT
from impacket.uuid import uuidtup_to_bin

IF50 = uuidtup_to_bin(('A9934395-CC29-4CBA-9104-F01FC6BA6AA0', '5.0'))
IF65 = uuidtup_to_bin(('55D8F461-543B-4019-9D94-54584C00ECD4', '5.0'))


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


def connect(port, iface=IF50, bind=True, max_fragment=None):
    """A connection to the server on this machine's port, bound to iface
    unless bind is false."""
    rpc = transport.DCERPCTransportFactory('ncacn_ip_tcp:127.0.0.1[%d]' % port)
    dce = rpc.get_dce_rpc()
    if max_fragment:
        dce.set_max_fragment_size(max_fragment)
    dce.connect()
    if bind:
        dce.bind(iface)
    return dce


def remote_invoke(dce, data):
    """RemoteInvoke with data as the request blob (a null pointer for None or
    no bytes); the answer, whatever its return value."""
    call = RemoteInvoke()
    call['request']['size'] = len(data) if data else 0
    call['request']['data'] = data if data else NULL
    return dce.request(call, checkError=False)


def reply_bytes(answer):
    """The reply blob's bytes; none for a null pointer."""
    return b''.join(answer['reply']['data']) if answer['reply']['data'] else b''
