-- SPDX-License-Identifier: GPL-3.0-or-later
-- Dissector for the device protocol of the Korvantis configurator, for Wireshark and tshark.
--
-- The configurator broadcasts every request from its UDP port 60001 to 255.255.255.255:60000; a
-- device answers from its port 60000 to the configurator's port 60001. No datagram says what it is,
-- and a reply does not even say which request it answers, so this file decides by direction (the
-- destination port), length and content, and for replies by what the configurator was waiting for:
--
--   Towards port 60000 (a request):
--     five zero bytes                              ScanRequest
--     01, DeviceId (5), code 0A, FF FF FF FF       ConfigReadRequest
--     01, DeviceId (5), a write code, parameter    WriteCommand (9 bytes for code 05, else 11); a
--                                                  wrong length or fill is shown and warned about
--     01, DeviceId, another code; anything else    an unknown request, warned about
--
--   Towards port 60001 (a reply), the first that fits:
--     exactly four bytes, code 01 0D 0A            WriteAck of that code. First, because the
--                                                  configurator takes these four bytes as an
--                                                  acknowledgement whatever else it waits for.
--     while a scan collects (up to 2 s after the   ScanReply. The configurator lists every
--     ScanRequest, until the next addressed        datagram of five bytes or more it gets during its
--     request from the same workstation)           1.5 s wait; the extra half second covers the
--                                                  capture's clock against the program's.
--     while a read awaits its record (up to 3 s    ConfigRecord, whatever its length, as the
--     after the ConfigReadRequest, first answer)   configurator shows the next datagram as the record
--     from port 60000, 57 bytes or more, with no   ConfigRecord, noted as guessed: a capture that
--     read to answer                               starts after the request still shows the fields.
--                                                  Devices answer from port 60000; anything else
--                                                  nobody asked for is not taken for a record.
--     anything else                                an unsolicited datagram, noted
--
-- An acknowledgement belongs to the last send of its code from that workstation within 2.5 s,
-- unless that send was acknowledged already, or went to a DeviceId that answered a scan in this
-- capture from another address than the acknowledgement's. Otherwise no command asked for it, and it
-- is warned about. During a read, a reply from another address than the one the read's DeviceId
-- answered the scan from is not the record (the configurator ignores it too), and is warned about.
--
-- Waits are kept per workstation address, so two configurators on one segment do not take each
-- other's replies. Links (request to reply and back) are made in the first pass over the capture:
-- the GUI always shows them, tshark with -2.
--
-- Datagrams quoted inside ICMP errors are shown but never change what is awaited: the configurator
-- or device never received them.

local korv = Proto("korv", "Korvantis device protocol")

local DEVICE_PORT = 60000
local WORKSTATION_PORT = 60001

local SCAN_WINDOW = 2.0  -- s; the configurator collects for 1.5 s
local READ_WINDOW = 3.0  -- s; it waits for a record without a limit, but a late one is more likely a stray
local ACK_WINDOW = 2.5   -- s; the longest step waits 1.2 s before it sends again
local RECORD_FIELDS_END = 57 -- shortest record whose fields do not overlap the speed byte
local SPEED_CUT = 256    -- the configurator finds the speed byte by cutting the record at 256 bytes

local K = {
    UNKNOWN_REQUEST = 0,
    SCAN_REQUEST = 1,
    SCAN_REPLY = 2,
    READ_REQUEST = 3,
    CONFIG_RECORD = 4,
    WRITE_COMMAND = 5,
    WRITE_ACK = 6,
    UNSOLICITED = 7,
}
local kind_names = {
    [K.UNKNOWN_REQUEST] = "Unknown request",
    [K.SCAN_REQUEST] = "ScanRequest",
    [K.SCAN_REPLY] = "ScanReply",
    [K.READ_REQUEST] = "ConfigReadRequest",
    [K.CONFIG_RECORD] = "ConfigRecord",
    [K.WRITE_COMMAND] = "WriteCommand",
    [K.WRITE_ACK] = "WriteAck",
    [K.UNSOLICITED] = "Unsolicited datagram",
}

local READ_CODE = 0x0A
local CODE = { DEVICE_IP = 0x01, REMOTE_IP = 0x02, GATEWAY = 0x03, MODE = 0x04, PORT = 0x05,
               SPEED = 0x06, SUBNET_MASK = 0x07, COMMIT = 0xFF }
local command_names = {
    [READ_CODE] = "Read configuration",
    [CODE.DEVICE_IP] = "Set device IP",
    [CODE.SUBNET_MASK] = "Set subnet mask",
    [CODE.MODE] = "Set network mode",
    [CODE.REMOTE_IP] = "Set remote IP",
    [CODE.GATEWAY] = "Set gateway",
    [CODE.PORT] = "Set local port",
    [CODE.SPEED] = "Set serial speed",
    [CODE.COMMIT] = "Commit",
}

-- The network modes of the configurator's list; 03 is not one of them.
local mode_names = {
    [0x00] = "TCP/IP server",
    [0x01] = "TCP/IP client",
    [0x02] = "UDP server",
    [0x04] = "UDP client",
}

-- The nine speeds of the configurator's list. Codes follow 256 - 460800 / baud, but only these nine
-- are ones it can show or send, so they are looked up, never computed.
local baud_of_code = {
    [0x40] = 2400, [0xA0] = 4800, [0xD0] = 9600, [0xE0] = 14400, [0xE8] = 19200,
    [0xF0] = 28800, [0xF4] = 38400, [0xF8] = 57600, [0xFC] = 115200,
}
local baud_names = {}
for code, baud in pairs(baud_of_code) do
    baud_names[code] = baud .. " baud"
end

local f = {
    kind = ProtoField.uint8("korv.kind", "Message", base.DEC, kind_names),
    lead = ProtoField.uint8("korv.lead", "Lead byte", base.HEX),
    device_id = ProtoField.bytes("korv.device_id", "DeviceId"),
    mac = ProtoField.string("korv.mac", "MAC text"),
    code = ProtoField.uint8("korv.code", "Command", base.HEX, command_names),
    param = ProtoField.bytes("korv.param", "Parameter"),
    cmd_device_ip = ProtoField.ipv4("korv.cmd.device_ip", "Device IP"),
    cmd_subnet_mask = ProtoField.ipv4("korv.cmd.subnet_mask", "Subnet mask"),
    cmd_remote_ip = ProtoField.ipv4("korv.cmd.remote_ip", "Remote IP"),
    cmd_gateway = ProtoField.ipv4("korv.cmd.gateway", "Gateway"),
    cmd_port = ProtoField.uint16("korv.cmd.port", "Local port", base.DEC),
    cmd_mode = ProtoField.uint8("korv.cmd.mode", "Network mode", base.HEX, mode_names),
    cmd_baud_code = ProtoField.uint8("korv.cmd.baud_code", "Serial speed code", base.HEX, baud_names),
    cmd_baud = ProtoField.uint32("korv.cmd.baud", "Serial speed (baud)", base.DEC),
    cmd_commit = ProtoField.bool("korv.cmd.commit", "Commit"),
    fill = ProtoField.bytes("korv.fill", "Fill"),
    send_no = ProtoField.uint8("korv.cmd.send", "Send number", base.DEC),
    rec_length = ProtoField.uint32("korv.rec.length", "Record length", base.DEC),
    rec_mode = ProtoField.uint8("korv.rec.mode", "Network mode", base.HEX, mode_names),
    rec_port = ProtoField.uint16("korv.rec.port", "Local port", base.DEC),
    rec_device_ip = ProtoField.ipv4("korv.rec.device_ip", "Device IP"),
    rec_remote_ip = ProtoField.ipv4("korv.rec.remote_ip", "Remote IP"),
    rec_gateway = ProtoField.ipv4("korv.rec.gateway", "Gateway"),
    rec_subnet_mask = ProtoField.ipv4("korv.rec.subnet_mask", "Subnet mask"),
    rec_baud_code = ProtoField.uint8("korv.rec.baud_code", "Serial speed code", base.HEX, baud_names),
    rec_baud = ProtoField.uint32("korv.rec.baud", "Serial speed (baud)", base.DEC),
    ack_code = ProtoField.uint8("korv.ack.code", "Acknowledges", base.HEX, command_names),
    ack_tail = ProtoField.bytes("korv.ack.tail", "Trailer"),
    data = ProtoField.bytes("korv.data", "Data"),
    request_in = ProtoField.framenum("korv.request_in", "Request in", base.NONE, frametype.REQUEST),
    response_in = ProtoField.framenum("korv.response_in", "Response in", base.NONE, frametype.RESPONSE),
    response_time = ProtoField.relative_time("korv.time", "Time since request"),
}
local field_list = {}
for _, field in pairs(f) do
    field_list[#field_list + 1] = field
end
korv.fields = field_list

-- No warning here uses the Malformed group: in Wireshark that marks a packet the dissector failed on.
local e = {
    unasked_ack = ProtoExpert.new("korv.ack.unasked", "Acknowledgement that no command asked for",
        expert.group.SEQUENCE, expert.severity.WARN),
    short_record = ProtoExpert.new("korv.rec.short", "Record too short for its fields",
        expert.group.PROTOCOL, expert.severity.WARN),
    long_record = ProtoExpert.new("korv.rec.long", "Record over 256 bytes: the speed is read from byte 255",
        expert.group.PROTOCOL, expert.severity.NOTE),
    guessed_record = ProtoExpert.new("korv.rec.guessed", "No read in the capture asked for this record",
        expert.group.SEQUENCE, expert.severity.NOTE),
    foreign_reply = ProtoExpert.new("korv.read.foreign", "Reply during a read, from another address than the device's",
        expert.group.SEQUENCE, expert.severity.WARN),
    unlisted_code = ProtoExpert.new("korv.code.unlisted", "Code outside the configurator's list",
        expert.group.PROTOCOL, expert.severity.WARN),
    bad_frame = ProtoExpert.new("korv.frame.bad", "Addressed request of the wrong length or fill",
        expert.group.PROTOCOL, expert.severity.WARN),
    unknown_request = ProtoExpert.new("korv.request.unknown", "Not a request of this protocol",
        expert.group.PROTOCOL, expert.severity.WARN),
    short_scan_reply = ProtoExpert.new("korv.scan.short", "Scan reply under five bytes names no device",
        expert.group.PROTOCOL, expert.severity.WARN),
    unsolicited = ProtoExpert.new("korv.unsolicited", "Datagram to the configurator that no request explains",
        expert.group.SEQUENCE, expert.severity.NOTE),
    no_reply = ProtoExpert.new("korv.no_reply", "No reply in the capture",
        expert.group.SEQUENCE, expert.severity.NOTE),
}
korv.experts = { e.unasked_ack, e.short_record, e.long_record, e.guessed_record, e.foreign_reply,
                 e.unlisted_code, e.bad_frame, e.unknown_request, e.short_scan_reply, e.unsolicited,
                 e.no_reply }

-- Capture time in seconds. Not pinfo.rel_ts: that restarts at a time reference set in the GUI, and
-- a wait would then span the jump. (frame.time_epoch would be exact, but the first pass builds no
-- tree to read it from.)
local function now(pinfo)
    return pinfo.abs_ts
end

local function seconds_since(t0, t)
    return t - t0
end

-- A double holds today's absolute time to a quarter of a microsecond: the time since a request is
-- shown to the microsecond, which is all most captures record anyway.
local function nstime_of(seconds)
    local us = math.floor(seconds * 1e6 + 0.5)
    return NSTime.new(math.floor(us / 1e6), (us % 1e6) * 1000)
end

-- State of the first pass. `frames` keeps what was decided for each frame, so later passes (and the
-- GUI's redissections in any order) show the same; the rest follows the configurator's own state.
local frames, workstations, device_addr

local function reset()
    frames = {}       -- frame number -> { kind, request, responses = {}, note, ... }
    workstations = {} -- workstation address -> { scan = {frame, t}, read = {frame, t, id}, sends = {code -> send} }
    device_addr = {}  -- DeviceId hex -> address it answered a scan from
end
korv.init = reset
reset()

local function hex_of(s)
    return (s:gsub(".", function(c) return string.format("%02X", c:byte()) end))
end

local function mac_text(id_hex)
    return "00" .. id_hex:gsub("(%x%x)", "-%1")
end

local function workstation(addr)
    local ws = workstations[addr]
    if not ws then
        ws = { sends = {} }
        workstations[addr] = ws
    end
    return ws
end

local function param_length(code)
    return code == CODE.PORT and 2 or 4
end

-- Whether a datagram travels towards a device. Ports decide; a datagram between two 60000s (devices
-- do not talk to each other) counts as a request.
local function towards_device(pinfo)
    if pinfo.dst_port == DEVICE_PORT then
        return true
    end
    if pinfo.dst_port == WORKSTATION_PORT then
        return false
    end
    return pinfo.src_port == WORKSTATION_PORT
end

local function classify_request(s)
    local n = #s
    if s == "\0\0\0\0\0" then
        return { kind = K.SCAN_REQUEST }
    end
    if n >= 7 and s:byte(1) == 0x01 then
        local code = s:byte(7)
        local info = { id = hex_of(s:sub(2, 6)), code = code }
        if code == READ_CODE then
            info.kind = K.READ_REQUEST
        elseif command_names[code] then
            info.kind = K.WRITE_COMMAND
        else
            info.kind = K.UNKNOWN_REQUEST
        end
        return info
    end
    return { kind = K.UNKNOWN_REQUEST }
end

local function is_ack(s)
    return #s == 4 and s:sub(2) == "\1\r\n"
end

-- First pass over a request: opens or closes the configurator's waits.
local function track_request(info, pinfo, s)
    local ws = workstation(tostring(pinfo.src))
    local t = now(pinfo)
    info.responses = {}
    if info.kind == K.SCAN_REQUEST then
        ws.scan = { frame = pinfo.number, t = t }
        return
    end
    if info.kind ~= K.READ_REQUEST and info.kind ~= K.WRITE_COMMAND then
        return
    end
    -- The configurator reads or writes only once its scan wait is over.
    ws.scan = nil
    if info.kind == K.READ_REQUEST then
        ws.read = { frame = pinfo.number, t = t, id = info.id }
        return
    end
    -- The write sequence sends a step again when no acknowledgement came within its wait, or when
    -- another datagram followed it.
    local prev = ws.sends[info.code]
    info.send_no = 1
    if prev and prev.id == info.id and prev.bytes == s and seconds_since(prev.t, t) <= ACK_WINDOW then
        info.send_no = math.min(prev.send_no + 1, 255)
    end
    ws.sends[info.code] = { frame = pinfo.number, t = t, id = info.id, bytes = s, send_no = info.send_no }
end

local function link(info, req_frame, t_req, t)
    info.request = req_frame
    info.delta = t - t_req
    local req = frames[req_frame]
    req.responses[#req.responses + 1] = info.frame
end

-- First pass over a reply: which wait it answers, as the configurator would take it.
local function classify_reply(pinfo, s, quoted)
    local n = #s
    local info = { frame = pinfo.number }
    if is_ack(s) then
        info.kind = K.WRITE_ACK
    end
    if quoted then
        if not info.kind then
            info.kind = (n >= RECORD_FIELDS_END and pinfo.src_port == DEVICE_PORT) and K.CONFIG_RECORD
                or K.UNSOLICITED
        end
        return info
    end
    local ws = workstation(tostring(pinfo.dst))
    local t = now(pinfo)
    local src = tostring(pinfo.src)

    if info.kind == K.WRITE_ACK then
        local code = s:byte(1)
        local send = ws.sends[code]
        if not send or seconds_since(send.t, t) > ACK_WINDOW then
            info.unasked = "no " .. (command_names[code] or string.format("code %02X", code)) ..
                " command in the last " .. ACK_WINDOW .. " s"
        elseif device_addr[send.id] and device_addr[send.id] ~= src then
            info.unasked = "the command in frame " .. send.frame .. " went to " .. mac_text(send.id) ..
                ", which answered the scan from " .. device_addr[send.id]
        elseif send.acked then
            info.unasked = "the command in frame " .. send.frame .. " was acknowledged in frame " .. send.acked
        else
            send.acked = info.frame
            link(info, send.frame, send.t, t)
        end
        return info
    end

    if ws.scan and seconds_since(ws.scan.t, t) <= SCAN_WINDOW then
        info.kind = K.SCAN_REPLY
        link(info, ws.scan.frame, ws.scan.t, t)
        if n >= 5 then
            info.id = hex_of(s:sub(n >= 6 and n - 5 or 1, n >= 6 and n - 1 or 5))
            device_addr[info.id] = src
        end
        return info
    end

    local read = ws.read
    if read and seconds_since(read.t, t) <= READ_WINDOW then
        -- The configurator takes a record only from the address it lists for the device; without a
        -- scan in the capture that address is unknown here, and the first reply is taken.
        local addr = device_addr[read.id]
        if not addr or addr == src then
            ws.read = nil
            info.kind = K.CONFIG_RECORD
            link(info, read.frame, read.t, t)
            return info
        end
        info.foreign = "the read in frame " .. read.frame .. " is for " .. mac_text(read.id) ..
            ", which answered the scan from " .. addr
    end

    if n >= RECORD_FIELDS_END and pinfo.src_port == DEVICE_PORT then
        info.kind = K.CONFIG_RECORD
        info.guessed = true
    else
        info.kind = K.UNSOLICITED
    end
    return info
end

local function add_link_items(tree, info)
    if info.request then
        tree:add(f.request_in, info.request):set_generated()
        tree:add(f.response_time, nstime_of(info.delta)):set_generated()
    end
    for _, frame in ipairs(info.responses or {}) do
        tree:add(f.response_in, frame):set_generated()
    end
end

local function add_mac(tree, id_range)
    local item = tree:add(f.mac, mac_text(hex_of(id_range:raw())))
    item:set_generated()
end

-- A byte of the configurator's code lists; the baud comes with it when the code is listed.
local function add_speed(tree, code_field, baud_field, range)
    local code = range:uint()
    tree:add(code_field, range)
    if baud_of_code[code] then
        tree:add(baud_field, range, baud_of_code[code]):set_generated()
        return baud_of_code[code] .. " baud"
    end
    tree:add_proto_expert_info(e.unlisted_code, string.format("Speed code %02X is not in the speed list", code))
    return string.format("code %02X (unlisted)", code)
end

local function add_mode(tree, mode_field, range)
    local code = range:uint()
    tree:add(mode_field, range)
    if mode_names[code] then
        return mode_names[code]
    end
    tree:add_proto_expert_info(e.unlisted_code, string.format("Mode code %02X is not in the mode list", code))
    return string.format("code %02X (unlisted)", code)
end

local address_fields = {
    [CODE.DEVICE_IP] = f.cmd_device_ip,
    [CODE.SUBNET_MASK] = f.cmd_subnet_mask,
    [CODE.REMOTE_IP] = f.cmd_remote_ip,
    [CODE.GATEWAY] = f.cmd_gateway,
}

-- The parameter of a WriteCommand or ConfigReadRequest; returns its text for the info column.
local function dissect_param(tree, tvb, code)
    local n = tvb:len()
    local want = param_length(code)
    local text = ""
    if n < 7 + want then
        if n > 7 then
            tree:add(f.param, tvb(7))
        end
        tree:add_proto_expert_info(e.bad_frame, string.format(
            "Frame of %d bytes; %s takes %d", n, command_names[code], 7 + want))
        return "(cut short)"
    end
    local p = tvb(7, want)
    local pt = tree:add(f.param, p)
    local fill_ok = true
    if address_fields[code] then
        pt:add(address_fields[code], p)
        text = tostring(p:ipv4())
    elseif code == CODE.PORT then
        pt:add_le(f.cmd_port, p)
        text = tostring(p:le_uint())
    elseif code == CODE.MODE then
        text = add_mode(pt, f.cmd_mode, tvb(7, 1))
        pt:add(f.fill, tvb(8, 3))
        fill_ok = tvb(8, 3):raw() == "\255\255\255"
    elseif code == CODE.SPEED then
        text = add_speed(pt, f.cmd_baud_code, f.cmd_baud, tvb(7, 1))
        pt:add(f.fill, tvb(8, 3))
        fill_ok = tvb(8, 3):raw() == "\255\255\255"
    else -- read and commit carry no value
        pt:add(f.fill, p)
        fill_ok = p:raw() == "\255\255\255\255"
        if code == CODE.COMMIT then
            pt:add(f.cmd_commit, p, true):set_generated()
        end
    end
    if not fill_ok then
        tree:add_proto_expert_info(e.bad_frame, "Fill bytes are not all FF")
    end
    if n > 7 + want then
        tree:add(f.data, tvb(7 + want))
        tree:add_proto_expert_info(e.bad_frame, string.format(
            "Frame of %d bytes; %s takes %d", n, command_names[code], 7 + want))
    end
    return text
end

local function dissect_request(tree, tvb, info)
    local n = tvb:len()
    if info.kind == K.SCAN_REQUEST then
        tree:add(f.data, tvb())
        return ""
    end
    if not info.id then
        if n > 0 then
            tree:add(f.data, tvb())
        end
        tree:add_proto_expert_info(e.unknown_request)
        return n .. " bytes"
    end
    tree:add(f.lead, tvb(0, 1))
    tree:add(f.device_id, tvb(1, 5))
    add_mac(tree, tvb(1, 5))
    tree:add(f.code, tvb(6, 1))
    local mac = mac_text(info.id)
    if info.kind == K.UNKNOWN_REQUEST then
        if n > 7 then
            tree:add(f.data, tvb(7))
        end
        tree:add_proto_expert_info(e.unknown_request, string.format("Unknown command code %02X", info.code))
        return string.format("code %02X to %s", info.code, mac)
    end
    local text = dissect_param(tree, tvb, info.code)
    if info.kind == K.READ_REQUEST then
        return mac
    end
    if info.send_no then
        tree:add(f.send_no, info.send_no):set_generated()
    end
    local resend = (info.send_no or 1) > 1 and (" (send " .. info.send_no .. ")") or ""
    return command_names[info.code] .. (text ~= "" and (" " .. text) or "") .. " to " .. mac .. resend
end

local function dissect_record(tree, tvb, info)
    local n = tvb:len()
    tree:add(f.rec_length, n):set_generated()
    local parts = {}
    if n >= 1 then
        local mode = add_mode(tree, f.rec_mode, tvb(0, 1))
        parts[#parts + 1] = mode_names[tvb(0, 1):uint()] and mode or ("mode " .. mode)
    end
    if n >= 10 then
        tree:add_le(f.rec_port, tvb(8, 2))
        parts[#parts + 1] = "port " .. tvb(8, 2):le_uint()
    end
    local addresses = {
        { 40, f.rec_device_ip, "IP" }, { 44, f.rec_remote_ip, "remote" },
        { 48, f.rec_gateway, "gateway" }, { 52, f.rec_subnet_mask, "mask" },
    }
    for _, a in ipairs(addresses) do
        if n >= a[1] + 4 then
            tree:add(a[2], tvb(a[1], 4))
            parts[#parts + 1] = a[3] .. " " .. tostring(tvb(a[1], 4):ipv4())
        end
    end
    if n >= 1 then
        local at = math.min(n, SPEED_CUT) - 1
        local speed = add_speed(tree, f.rec_baud_code, f.rec_baud, tvb(at, 1))
        parts[#parts + 1] = baud_of_code[tvb(at, 1):uint()] and speed or ("speed " .. speed)
    end
    if n < RECORD_FIELDS_END then
        tree:add_proto_expert_info(e.short_record, string.format(
            "Record of %d bytes; its fields need %d (the configurator reads the last byte for what is missing)",
            n, RECORD_FIELDS_END))
    elseif n > SPEED_CUT then
        tree:add_proto_expert_info(e.long_record)
    end
    if info.guessed then
        tree:add_proto_expert_info(e.guessed_record, "No read in the capture asked for this record; taken as one by its length")
    end
    return table.concat(parts, ", ")
end

local function dissect_reply(tree, tvb, info)
    local n = tvb:len()
    if info.kind == K.WRITE_ACK then
        tree:add(f.ack_code, tvb(0, 1))
        tree:add(f.ack_tail, tvb(1, 3))
        local code = tvb(0, 1):uint()
        if info.unasked then
            tree:add_proto_expert_info(e.unasked_ack, "Acknowledgement that no command asked for: " .. info.unasked)
        end
        return (command_names[code] or string.format("code %02X", code)) .. (info.unasked and " (unasked)" or "")
    end
    if info.kind == K.SCAN_REPLY then
        if n < 5 then
            if n > 0 then
                tree:add(f.data, tvb())
            end
            tree:add_proto_expert_info(e.short_scan_reply, string.format(
                "Scan reply of %d bytes names no device; the configurator does not list it", n))
            return n .. " bytes, names no device"
        end
        local id = n >= 6 and tvb(n - 6, 5) or tvb(0, 5)
        tree:add(f.device_id, id)
        add_mac(tree, id)
        return mac_text(info.id)
    end
    if info.kind == K.CONFIG_RECORD then
        return dissect_record(tree, tvb, info)
    end
    if n > 0 then
        tree:add(f.data, tvb())
    end
    if not info.note then -- an ICMP error says enough about a datagram nobody took
        tree:add_proto_expert_info(e.unsolicited)
    end
    return n .. " bytes"
end

function korv.dissector(tvb, pinfo, root)
    local s = tvb:raw()
    local request_side = towards_device(pinfo)
    local info = frames[pinfo.number]
    if not info then
        local quoted = pinfo.in_error_pkt
        if request_side then
            info = classify_request(s)
            info.frame = pinfo.number
            if not quoted then
                track_request(info, pinfo, s)
            end
        else
            info = classify_reply(pinfo, s, quoted)
        end
        if quoted then
            info.note = "quoted in an ICMP error"
        else
            frames[pinfo.number] = info
        end
    end

    pinfo.cols.protocol = "KORV"
    local tree = tvb:len() > 0 and root:add(korv, tvb()) or root:add(korv)
    tree:add(f.kind, info.kind):set_generated()
    local text
    if request_side then
        text = dissect_request(tree, tvb, info)
    else
        text = dissect_reply(tree, tvb, info)
        if info.foreign then
            tree:add_proto_expert_info(e.foreign_reply, "Not the record the configurator waits for: " .. info.foreign)
        end
    end
    add_link_items(tree, info)
    if pinfo.visited and not info.note and #(info.responses or {}) == 0
        and (info.kind == K.READ_REQUEST or info.kind == K.WRITE_COMMAND) then
        tree:add_proto_expert_info(e.no_reply, info.kind == K.READ_REQUEST
            and "No record in the capture answers this read" or "No acknowledgement in the capture answers this command")
    end
    local label = kind_names[info.kind] .. (text ~= "" and (" " .. text) or "")
    if info.note then
        label = label .. " [" .. info.note .. "]"
    end
    tree:append_text(", " .. kind_names[info.kind])
    pinfo.cols.info = label
    return tvb:len()
end

local udp_port = DissectorTable.get("udp.port")
udp_port:add(DEVICE_PORT, korv)
udp_port:add(WORKSTATION_PORT, korv)
