#!/usr/bin/env python3
"""Writes vehicle.log, the candump log of the bundled example network (vehicle.dbc).

A ten-second drive of a small car: the engine idles, the driver selects Drive,
accelerates to about 60 km/h through three gears while steering a gentle S-bend,
brakes hard when the camera reports a car ahead, and opens the driver's door at a
standstill. Every frame is sent at the cycle time the DBC gives it, with a little
deterministic jitter, and packed from physical values with the layouts read from
the DBC itself (start bit, length, byte order, sign, factor, offset, floats).

Usage: python3 examples/make_vehicle_log.py [examples/vehicle.dbc] > examples/vehicle.log
"""
import math
import os
import random
import re
import struct
import sys

START_TIME_US = 1_700_000_000_000_000
DURATION_US = 10_000_000

SG_RE = re.compile(r'^\s*SG_\s+(\w+)\s*(M|m\d+)?\s*:\s*(\d+)\|(\d+)@([01])([+-])\s*'
                   r'\(([^,]+),([^)]+)\)\s*\[([^|]+)\|([^\]]+)\]')
BO_RE = re.compile(r'^BO_\s+(\d+)\s+(\w+)\s*:\s*(\d+)\s+(\w+)')


class Signal:
    def __init__(self, m):
        self.name = m.group(1)
        self.mux = m.group(2)
        self.start, self.length = int(m.group(3)), int(m.group(4))
        self.big_endian = m.group(5) == '0'
        self.signed = m.group(6) == '-'
        self.factor, self.offset = float(m.group(7)), float(m.group(8))
        self.minimum, self.maximum = float(m.group(9)), float(m.group(10))
        self.float = False

    def raw(self, physical):
        physical = min(max(physical, self.minimum), self.maximum)
        if self.float:
            return struct.unpack('<I', struct.pack('<f', physical))[0]
        raw = int(round((physical - self.offset) / self.factor))
        low = -(1 << (self.length - 1)) if self.signed else 0
        high = (1 << (self.length - 1)) - 1 if self.signed else (1 << self.length) - 1
        raw = min(max(raw, low), high)
        return raw & ((1 << self.length) - 1)

    def pack(self, data, physical):
        raw = self.raw(physical)
        if not self.big_endian:
            for i in range(self.length):
                bit = self.start + i
                set_bit(data, bit, (raw >> i) & 1)
        else:
            # DBC big-endian: the start bit is the most significant one; bits run down
            # inside a byte and on into the next byte's bit 7.
            bit = self.start
            for i in range(self.length - 1, -1, -1):
                set_bit(data, bit, (raw >> i) & 1)
                bit = bit - 1 if bit % 8 else bit + 15


def set_bit(data, bit, value):
    if value:
        data[bit // 8] |= 1 << (bit % 8)
    else:
        data[bit // 8] &= ~(1 << (bit % 8)) & 0xFF


class Frame:
    def __init__(self, m):
        ident = int(m.group(1))
        self.extended = bool(ident & 0x80000000)
        self.ident = ident & 0x1FFFFFFF
        self.raw_ident = ident
        self.name = m.group(2)
        self.length = int(m.group(3))
        self.signals = []
        self.cycle_ms = 0
        self.fd = False


def read_dbc(path):
    frames, current = {}, None
    with open(path, encoding='utf-8') as f:
        for line in f:
            m = BO_RE.match(line)
            if m:
                current = Frame(m)
                frames[current.raw_ident] = current
                continue
            m = SG_RE.match(line)
            if m and current:
                current.signals.append(Signal(m))
                continue
            m = re.match(r'^BA_\s+"GenMsgCycleTime"\s+BO_\s+(\d+)\s+(\d+)', line)
            if m:
                frames[int(m.group(1))].cycle_ms = int(m.group(2))
            m = re.match(r'^BA_\s+"VFrameFormat"\s+BO_\s+(\d+)\s+([34])', line)
            if m:
                frames[int(m.group(1))].fd = True
            m = re.match(r'^SIG_VALTYPE_\s+(\d+)\s+(\w+)\s*:\s*1', line)
            if m:
                for s in frames[int(m.group(1))].signals:
                    if s.name == m.group(2):
                        s.float = True
    return list(frames.values())


class Drive:
    """The car's state at a time t (seconds from the start)."""

    def __init__(self):
        self.odometer = 48213.7
        self.fuel = 62.0
        self.soc = 81.5

    @staticmethod
    def speed(t):  # km/h
        if t < 2.0:
            return 0.0
        if t < 6.5:
            return 60.0 * (1 - math.exp(-(t - 2.0) / 1.6))
        if t < 7.0:
            return Drive.speed(6.4999) + 0.5 * (t - 6.5)
        if t < 9.0:
            return max(0.0, Drive.speed(6.9999) - 28.0 * (t - 7.0))
        return 0.0

    @staticmethod
    def accel(t):  # m/s2, from the speed profile
        h = 0.01
        return (Drive.speed(t + h) - Drive.speed(max(0.0, t - h))) / 3.6 / (2 * h if t >= h else h)

    @staticmethod
    def gear(t):
        v = Drive.speed(t)
        if t < 1.2:
            return 0, 0  # Park
        if v < 18:
            return 3, 1
        if v < 35:
            return 3, 2
        return 3, 3

    def values(self, t, rng):
        v = self.speed(t)
        selected, actual = self.gear(t)
        ratio = {0: 0, 1: 95.0, 2: 55.0, 3: 38.0}[actual]
        rpm = max(780.0, v * ratio) + 12 * math.sin(t * 23.0)
        braking = 7.0 <= t < 9.0
        throttle = 0.0 if braking or t < 2.0 else max(0.0, 55.0 * math.exp(-(t - 2.0) / 2.5))
        steer = 45.0 * math.sin((t - 2.5) * 1.3) if 2.5 <= t < 7.3 else 0.0
        lateral = (v / 3.6) ** 2 * steer / 15.0 / 2.7 / 57.3 if v > 0 else 0.0
        door_open = t >= 9.4
        ahead = 38.0 - 6.0 * max(0.0, t - 5.0) if t >= 5.0 else 0.0
        values = {
            'EngineSpeed': rpm, 'CoolantTemp': 78.0 + 0.4 * t, 'ThrottlePosition': throttle,
            'EngineTorque': -35.0 if braking else 8.0 + 2.6 * throttle,
            'EngineRunning': 1, 'OilPressure': 220.0 + rpm / 30.0,
            'GearSelected': selected, 'GearActual': actual, 'TransOilTemp': 64.0 + 0.2 * t,
            'ShiftInProgress': 1 if any(abs(v - b) < 0.8 for b in (18.0, 35.0)) else 0,
            'TorqueLimit': 320.0,
            'BrakePressure': 42.0 if braking else (6.0 if t < 1.8 else 0.0),
            'BrakePedalPressed': 1 if braking or t < 1.8 else 0, 'AbsActive': 1 if 7.4 <= t < 7.9 else 0,
            'EscActive': 0, 'Deceleration': max(0.0, -self.accel(t)),
            'SteeringWheelAngle': steer, 'SteeringWheelRate': 58.5 * math.cos((t - 2.5) * 1.3) if steer else 0.0,
            'SteeringSensorStatus': 1 if t < 0.2 else 0,
            'LongitudinalAccel': self.accel(t) + rng.uniform(-0.03, 0.03),
            'LateralAccel': lateral + rng.uniform(-0.03, 0.03),
            'BatteryVoltage': 396.2 - (0.4 if throttle > 10 else 0.0), 'BatteryCurrent': 18.0 + 1.6 * throttle - (25.0 if braking else 0.0),
            'StateOfCharge': self.soc, 'BatteryTemp': 31.0, 'ChargingState': 1 if braking else 2,
            'CabinTemp': 21.5, 'TargetTemp': 21.0, 'FanLevel': 3, 'AirConditioningOn': 1, 'OutsideTemp': 17.5,
            'DoorFrontLeft': 1 if door_open else 0, 'DoorFrontRight': 0, 'DoorRearLeft': 0, 'DoorRearRight': 0,
            'Tailgate': 0, 'LockState': 0 if door_open or t < 1.0 else 1,
            'TpmsWarning': 0, 'TirePressureFL': 232.5, 'TirePressureFR': 230.0, 'TirePressureRL': 240.0,
            'TirePressureRR': 237.5, 'TireTempFL': 24.0 + 0.3 * t, 'TireTempFR': 24.0 + 0.3 * t,
            'TireTempRL': 22.0 + 0.2 * t, 'TireTempRR': 22.0 + 0.2 * t,
            'Odometer': self.odometer + 0.0, 'FuelLevel': self.fuel, 'VehicleSpeed': v,
            'IgnitionState': 2,
            'ObjectCount': 1 if ahead > 0 else 0, 'ObjectDistance': max(ahead, 0.0),
            'ObjectRelSpeed': -v / 3.6 + 6.0 if ahead > 0 else 0.0, 'ObjectAngle': -1.5 if ahead > 0 else 0.0,
            'ObjectClass': 1 if ahead > 0 else 0,
            'TimeToCollision': min(100.0, ahead / max(0.1, v / 3.6 - 6.0)) if ahead > 0 and v / 3.6 > 6.0 else 100.0,
        }
        for wheel, factor in (('FL', 1.0 + steer / 4000.0), ('FR', 1.0 - steer / 4000.0), ('RL', 1.0), ('RR', 1.0)):
            values['WheelSpeed' + wheel] = v * factor
        return values


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    dbc = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, 'vehicle.dbc')
    frames = read_dbc(dbc)
    rng = random.Random(20240611)
    drive = Drive()
    events = []
    for frame in frames:
        offset = rng.randrange(0, frame.cycle_ms * 1000)
        t = offset
        while t < DURATION_US:
            events.append((t + rng.randrange(0, 150), frame))
            t += frame.cycle_ms * 1000
    events.sort(key=lambda e: (e[0], e[1].ident))
    counters = {}
    out = sys.stdout
    for t_us, frame in events:
        t = t_us / 1e6
        values = drive.values(t, rng)
        n = counters.get(frame.name, 0)
        counters[frame.name] = n + 1
        values['TpmsPage'] = n % 4
        values['AliveCounter'] = n % 16
        values['FrameCounter'] = n % 256
        data = bytearray(frame.length)
        for s in frame.signals:
            if s.mux and s.mux != 'M' and int(s.mux[1:]) != values['TpmsPage']:
                continue
            if s.name in ('Checksum', 'FrameChecksum'):
                continue
            s.pack(data, values.get(s.name, 0.0))
        for s in frame.signals:
            if s.name in ('Checksum', 'FrameChecksum'):
                s.pack(data, (sum(data) + frame.ident) & 0xFF)
        ident = '%08X' % frame.ident if frame.extended else '%03X' % frame.ident
        separator = '##1' if frame.fd else '#'
        stamp = START_TIME_US + t_us
        out.write('(%d.%06d) can0 %s%s%s\n' % (stamp // 1_000_000, stamp % 1_000_000, ident, separator,
                                              data.hex().upper()))


if __name__ == '__main__':
    main()
