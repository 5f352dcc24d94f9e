"""Calls a test server with impacket, a client this project did not write.

Usage: impacket_client.py <scenario> <port>. Exits 0 when the scenario
behaves as expected; otherwise prints what went wrong and exits 1.
"""
import os
import sys

from impacket.dcerpc.v5 import transport
from impacket.dcerpc.v5.dtypes import LONG
from impacket.dcerpc.v5.ndr import NDRCALL
from impacket.dcerpc.v5.rpcrt import (CtxItem, DCERPCException, MSRPC_BIND, MSRPC_BINDACK, MSRPCBind,
                                      MSRPCBindAck, MSRPCHeader, RPC_C_AUTHN_LEVEL_CONNECT)
from impacket.uuid import uuidtup_to_bin

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'support'))
from tq_rpc import IF50, IF65, GetVersion, connect, remote_invoke, reply_bytes  # noqa: E402

NDR20 = ('8a885d04-1ceb-11c9-9fe8-08002b104860', '2.0')
NDR64 = ('71710533-BEBA-4937-8319-B5DBEF9CCC36', '1.0')
FEATURES = ('6cb71c2c-9812-4540-0300-000000000000', '1.0')


class Unknown(NDRCALL):
    opnum = 9
    structure = ()


class UnknownResponse(NDRCALL):
    structure = (('ErrorCode', LONG),)


def fail(message):
    print(message)
    sys.exit(1)


def invoke(dce, data):
    answer = remote_invoke(dce, data)
    return answer['reply']['size'], reply_bytes(answer), answer['ErrorCode']


def expect_invoke(dce, data):
    size, body, result = invoke(dce, data)
    expected = bytes(reversed(data))
    if size != len(data) or body != expected or result != len(data):
        fail('RemoteInvoke of %d bytes: size %d, %d bytes back, result %d' % (len(data), size, len(body), result))


def expect_version(dce):
    version = dce.request(GetVersion(), checkError=False)['ErrorCode']
    if version != 5:
        fail('GetVersion returned %d' % version)


def expect_refusal(action, text):
    try:
        action()
    except DCERPCException as e:
        if text not in str(e):
            fail('refused, but with "%s" instead of "%s"' % (e, text))
        return
    fail('not refused (expected "%s")' % text)


def versions(port):
    for iface in (IF50, IF65):
        dce = connect(port, iface)
        expect_version(dce)
        dce.disconnect()
    # Both interfaces on one connection: bind, then alter_context.
    dce = connect(port, IF50)
    expect_version(dce)
    other = dce.alter_ctx(IF65)
    expect_version(other)


def invoke_blobs(port):
    dce = connect(port)
    expect_invoke(dce, b'hello, server')
    expect_invoke(dce, b'x')
    size, body, result = invoke(dce, None)
    if size != 0 or body != b'' or result != 0:
        fail('null blob: size %d, %d bytes, result %d' % (size, len(body), result))


def fragments(port):
    dce = connect(port, IF65)
    # Requests cut into many fragments; the reply comes back in many too.
    dce.set_max_fragment_size(1000)
    data = bytes((i * 31 + i // 7) & 0xFF for i in range(200000))
    expect_invoke(dce, data)
    expect_version(dce)


def ndr64(port):
    dce = connect(port, bind=False)
    expect_refusal(lambda: dce.bind(IF50, transfer_syntax=NDR64), 'proposed_transfer_syntaxes_not_supported')
    dce = connect(port, bind=False)
    dce.bind(IF50, transfer_syntax=NDR20)
    expect_version(dce)


def unknown_interface(port):
    dce = connect(port, bind=False)
    strange = uuidtup_to_bin(('01234567-89AB-CDEF-0123-456789ABCDEF', '1.0'))
    expect_refusal(lambda: dce.bind(strange), 'abstract_syntax_not_supported')


def bad_opnum(port):
    dce = connect(port)
    expect_refusal(lambda: dce.request(Unknown()), 'nca_s_op_rng_error')
    expect_version(dce)


def negotiation(port):
    # A bind as current Windows clients send it: NDR 2.0, NDR64 and the
    # bind-time feature negotiation, all for one interface.
    rpc = transport.DCERPCTransportFactory('ncacn_ip_tcp:127.0.0.1[%d]' % port)
    rpc.connect()
    bind = MSRPCBind()
    for i, syntax in enumerate((NDR20, NDR64, FEATURES)):
        item = CtxItem()
        item['ContextID'] = i
        item['TransItems'] = 1
        item['AbstractSyntax'] = IF50
        item['TransferSyntax'] = uuidtup_to_bin(syntax)
        bind.addCtxItem(item)
    packet = MSRPCHeader()
    packet['type'] = MSRPC_BIND
    packet['call_id'] = 1
    packet['pduData'] = bind.getData()
    rpc.send(packet.get_packet())
    answer = MSRPCHeader(rpc.recv())
    if answer['type'] != MSRPC_BINDACK:
        fail('answer type %d' % answer['type'])
    ack = MSRPCBindAck(answer.getData())
    results = [(ack.getCtxItem(i)['Result'], ack.getCtxItem(i)['Reason']) for i in range(1, ack['ctx_num'] + 1)]
    if results != [(0, 0), (2, 2), (3, 2)]:
        fail('context results %r' % results)
    if ack['SecondaryAddr'] not in (str(port), str(port).encode()):
        fail('secondary address %r' % ack['SecondaryAddr'])
    if ack['max_tfrag'] != 4280 or ack['max_rfrag'] != 4280:
        fail('fragment sizes %d/%d' % (ack['max_tfrag'], ack['max_rfrag']))


def authentication(port):
    rpc = transport.DCERPCTransportFactory('ncacn_ip_tcp:127.0.0.1[%d]' % port)
    rpc.set_credentials('user', 'password', 'DOMAIN')
    dce = rpc.get_dce_rpc()
    dce.set_auth_level(RPC_C_AUTHN_LEVEL_CONNECT)
    dce.connect()
    expect_refusal(lambda: dce.bind(IF50), 'Authentication type not recognized')
    # The server is still there for everyone else.
    expect_version(connect(port))


SCENARIOS = {
    'versions': versions,
    'invoke': invoke_blobs,
    'fragments': fragments,
    'ndr64': ndr64,
    'unknown': unknown_interface,
    'opnum': bad_opnum,
    'negotiation': negotiation,
    'auth': authentication,
}

if __name__ == '__main__':
    SCENARIOS[sys.argv[1]](int(sys.argv[2]))
    print('ok')
