-- Genisys for Wireshark: frames over TCP and UDP (ports in the preferences, or Decode As) and
-- in klp's serial captures (klp monitor --pcap, link type USER0), decoded as KLP Config's log.
--
-- Install: copy this file to Wireshark's personal Lua plugins folder (Help > About Wireshark >
-- Folders), or run tshark -X lua_script:genisys.lua.

local genisys = Proto("genisys", "Genisys")

local ESCAPE, TERMINATOR = 0xF0, 0xF6
local CONFIG_MARKER = 0x0F0F
local MAX_FRAME = 128  -- the receiver drops a frame that grows to this many bytes

-- The header bytes, and the log's fifteen names (by header, for ordinary and configuration
-- frames; a poll's name depends on its length).
local header_names = {
    [0xF1] = "Ack master", [0xF2] = "Indication data", [0xF3] = "Control checkback",
    [0xF8] = "Date/Time update", [0xF9] = "Common control", [0xFA] = "Ack slave",
    [0xFB] = "Poll", [0xFC] = "Control", [0xFD] = "Recall", [0xFE] = "Commit",
}
local ordinary_names = {
    [0xF1] = "Ack master message", [0xF2] = "Indication data message",
    [0xF3] = "Control checkback message", [0xF8] = "Date/Time update message",
    [0xF9] = "Common control message", [0xFA] = "Ack slave message",
    [0xFC] = "Control message", [0xFD] = "Recall message",
}
local config_names = {
    [0xF1] = "Config message (acknowledge)", [0xF2] = "Config message (receive data)",
    [0xFB] = "Config message (request)", [0xFC] = "Config message (send data)",
    [0xFE] = "Config message (commit & reset)",
}
-- How the log shows a frame's data: address-value pairs, or single bytes.
local pairs_headers = { [0xF2] = true, [0xF3] = true, [0xF9] = true, [0xFC] = true }
local no_data_headers = { [0xF1] = true, [0xFA] = true, [0xFB] = true, [0xFD] = true }

local f = {
    header = ProtoField.uint8("genisys.header", "Header", base.HEX, header_names),
    name = ProtoField.string("genisys.name", "Message"),
    station = ProtoField.uint8("genisys.station", "Station", base.DEC),
    pair = ProtoField.string("genisys.pair", "Address-value"),
    byte = ProtoField.uint8("genisys.byte", "Byte", base.HEX),
    crc = ProtoField.uint16("genisys.crc", "CRC-16", base.HEX),
    crc_status = ProtoField.string("genisys.crc_status", "CRC status"),
    unescaped = ProtoField.bytes("genisys.unescaped", "Frame, escapes undone"),
    unknown = ProtoField.bytes("genisys.unknown", "Bytes outside a frame"),
}
genisys.fields = { f.header, f.name, f.station, f.pair, f.byte, f.crc, f.crc_status, f.unescaped, f.unknown }

local crc_choices = { { 1, "arc", 0 }, { 2, "modbus", 1 }, { 3, "auto", 2 } }
genisys.prefs.tcp_ports = Pref.range("TCP ports", "", "TCP ports carrying Genisys", 65535)
genisys.prefs.udp_ports = Pref.range("UDP ports", "", "UDP ports carrying Genisys", 65535)
genisys.prefs.crc = Pref.enum("CRC-16", 0,
    "arc: starts at 0 (the page's); modbus: starts at 0xFFFF; auto: per direction, from the first frame that passes either",
    crc_choices, false)

-- Wireshark's Lua is 5.2: bit operations through bit32.
local band, bxor, rshift = bit32.band, bit32.bxor, bit32.rshift

-- CRC-16 (reflected 0xA001), table built once.
local crc_table = {}
for i = 0, 255 do
    local c = i
    for _ = 1, 8 do
        if c % 2 == 1 then c = bxor(rshift(c, 1), 0xA001) else c = rshift(c, 1) end
    end
    crc_table[i] = c
end
local function crc16(bytes, count, start)
    local c = start
    for i = 1, count do
        c = bxor(rshift(c, 8), crc_table[band(bxor(c, bytes[i]), 0xFF)])
    end
    return c
end

local function is_header(b) return b > ESCAPE and b ~= TERMINATOR end

-- auto's choice per direction, made on the first pass; arc = 0, modbus = 0xFFFF.
local chosen = {}
function genisys.init() chosen = {} end

local function direction_key(pinfo)
    return tostring(pinfo.src) .. ":" .. tostring(pinfo.src_port) .. ">" ..
           tostring(pinfo.dst) .. ":" .. tostring(pinfo.dst_port)
end

-- The verdict on a frame's CRC ("good", "config", "bad") and the CRC computed.
local function check_crc(u, k, pinfo)
    local received = u[k - 2] + u[k - 1] * 256
    local pref = genisys.prefs.crc
    local starts
    if pref == 0 then starts = { 0 } elseif pref == 1 then starts = { 0xFFFF } else
        local key = direction_key(pinfo)
        starts = chosen[key] and { chosen[key] } or { 0, 0xFFFF }
        for _, start in ipairs(starts) do
            local c = crc16(u, k - 3, start)
            if c == received or c == bxor(received, CONFIG_MARKER) then
                if not chosen[key] and not pinfo.visited then chosen[key] = start end
                starts = { start }
                break
            end
        end
    end
    local c = crc16(u, k - 3, starts[1])
    if c == received then return "good", received end
    if c == bxor(received, CONFIG_MARKER) then return "config", received end
    return "bad", received
end

local function hex(b) return string.format("%02X", b) end

-- One frame, header to terminator, at offset of tvb (length bytes with its terminator).
local function dissect_frame(tvb, offset, length, pinfo, tree)
    local range = tvb:range(offset, length)
    local wire = range:bytes()
    -- Escapes undone as the receiver does: 0xF0 and the byte after it become that byte - 0x10.
    local u, k, i = {}, 0, 0
    while i < length do
        local b = wire:get_index(i)
        if b == ESCAPE and i + 1 < length then
            i = i + 1
            b = (wire:get_index(i) - 0x10) % 256
        end
        k = k + 1
        u[k] = b
        i = i + 1
    end
    local header = u[1]
    local t = tree:add(genisys, range)
    t:add(f.header, range(0, 1))
    if k >= 3 then t:add(f.station, range(1, 1), u[2]) end
    local name, status
    local insecure = k == 3 and (header == 0xFB or header == 0xF1)
    if insecure then
        name = header == 0xFB and "Poll message (insecure)" or "Ack master message"
    elseif k < 3 then
        status = "bad"
    else
        local received
        status, received = check_crc(u, k, pinfo)
        t:add(f.crc, range(length - 3 > 0 and length - 3 or 0, 2), received)
        if status == "config" then
            name = config_names[header] or string.format("Config message (0x%02X)", header)
        elseif status == "good" then
            name = header == 0xFB and "Poll message (secure)" or ordinary_names[header]
                   or string.format("Unknown 0x%02X message", header)
        end
    end
    local text
    if status == "bad" then
        local dump = {}
        for j = 1, k do dump[#dump + 1] = hex(u[j]) end
        name = "CRC failed"
        text = "CRC failed: " .. table.concat(dump, " ") .. "."
    elseif status == "config" then
        text = string.format("ID %d Rx: %s.", u[2], name)
    else
        local data = {}
        if pairs_headers[header] then
            for j = 3, k - 3, 2 do
                local item = hex(u[j]) .. "-" .. hex(u[j + 1] or 0)
                data[#data + 1] = " " .. item
                t:add(f.pair, item)
            end
        elseif not no_data_headers[header] then
            for j = 3, k - 3 do
                data[#data + 1] = " " .. hex(u[j])
                t:add(f.byte, u[j])
            end
        end
        local shown = no_data_headers[header] and "" or ":" .. table.concat(data)
        text = string.format("ID %d Rx: %s%s.", u[2], name, shown)
    end
    t:add(f.name, name)
    if status then t:add(f.crc_status, status) end
    t:add(f.unescaped, ByteArray.new(table.concat((function()
        local h = {}
        for j = 1, k do h[j] = hex(u[j]) end
        return h
    end)(), " ")):tvb("Unescaped frame"):range())
    t:append_text(": " .. text)
    return text
end

-- Frames in tvb from offset. Over TCP a frame not yet ended asks for the next segment;
-- elsewhere (UDP, a serial capture) what is not ended is left, as a receiver waits for it.
function genisys.dissector(tvb, pinfo, tree)
    local length = tvb:len()
    local bytes = tvb:range():bytes()
    local offset, texts = 0, {}
    local stream = pinfo.port_type == 2  -- TCP
    while offset < length do
        local b = bytes:get_index(offset)
        if not is_header(b) then
            local start = offset
            while offset < length and not is_header(bytes:get_index(offset)) do
                offset = offset + 1
            end
            tree:add(f.unknown, tvb:range(start, offset - start))
        else
            -- The frame runs to its terminator; another header first restarts it.
            local j = offset + 1
            while j < length do
                local c = bytes:get_index(j)
                if c == TERMINATOR or is_header(c) then break end
                j = j + 1
            end
            if j >= length then
                if stream and j - offset < MAX_FRAME then
                    pinfo.desegment_offset = offset
                    pinfo.desegment_len = DESEGMENT_ONE_MORE_SEGMENT
                    break
                end
                tree:add(f.unknown, tvb:range(offset, length - offset))
                offset = length
            elseif bytes:get_index(j) ~= TERMINATOR or j - offset >= MAX_FRAME then
                offset = j  -- dropped unheard, as by the receiver
            else
                texts[#texts + 1] = dissect_frame(tvb, offset, j + 1 - offset, pinfo, tree)
                offset = j + 1
            end
        end
    end
    if #texts > 0 then
        pinfo.cols.protocol = "Genisys"
        pinfo.cols.info = table.concat(texts, " | ")
    end
    return length
end

local tcp_table = DissectorTable.get("tcp.port")
local udp_table = DissectorTable.get("udp.port")
tcp_table:add_for_decode_as(genisys)
udp_table:add_for_decode_as(genisys)
local encaps = wtap_encaps or wtap
DissectorTable.get("wtap_encap"):add(encaps.USER0, genisys)

local current_tcp, current_udp = "", ""
function genisys.prefs_changed()
    if current_tcp ~= "" then tcp_table:remove(current_tcp, genisys) end
    if current_udp ~= "" then udp_table:remove(current_udp, genisys) end
    current_tcp = tostring(genisys.prefs.tcp_ports)
    current_udp = tostring(genisys.prefs.udp_ports)
    if current_tcp ~= "" then tcp_table:add(current_tcp, genisys) end
    if current_udp ~= "" then udp_table:add(current_udp, genisys) end
end
