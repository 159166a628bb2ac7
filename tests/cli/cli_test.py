#!/usr/bin/env python3
"""Tests of the vexo command-line tool on the bundled example and corpus files: exact
output in each format, errors and exit codes, logs with unknown frames and garbage.
Environment: VEXO, VEXO_SOURCE_DIR, VEXO_CORPUS_DIR (optional), VEXO_TEST_TMP."""
import json
import os
import re
import select
import shutil
import struct
import subprocess
import sys
import unittest

VEXO = os.path.abspath(os.environ['VEXO'])
SOURCE = os.environ['VEXO_SOURCE_DIR']
CORPUS = os.environ.get('VEXO_CORPUS_DIR', '')
TMP = os.path.join(os.environ['VEXO_TEST_TMP'], 'cli')
os.makedirs(TMP, exist_ok=True)
DB = os.path.join(SOURCE, 'examples', 'vehicle.dbc')
LOG = os.path.join(SOURCE, 'examples', 'vehicle.log')
# The tool decoding through the step functions instead of its batch plans.
STEPS = dict(os.environ, VEXO_DECODER='step')

# Frames whose bytes were worked out by hand from vehicle.dbc (see the expectations).
FRAMES = [
    '(1700000000.500000) can0 0B0#FF9CFFE800000000', '(1700000000.600000) can0 18FF50E5#1027F6FFA0FF0100',
    '(1700000000.700000) can0 400#064B50', '  can0  300  [16]  02 E2 04 06 FF 00 00 03 00 00 C0 3F 07 00 00 AB',
    '(1700000000.800000) can0 170#CDCCCC3D000010C0',
]

EXPECTED_TEXT = '''\
(1700000000.500000) can0 0B0 SteeringAngle
  SteeringWheelAngle = -10 deg
  SteeringWheelRate = -2 deg/s
  SteeringSensorStatus = 2 "Fault"
(1700000000.600000) can0 18FF50E5 BatteryStatus
  BatteryVoltage = 100 V
  BatteryCurrent = -1 A
  StateOfCharge = 80 %
  BatteryTemp = 215 degC "Sensor fault"
  ChargingState = 1 "Charging"
(1700000000.700000) can0 400 TirePressure
  TpmsPage = 2 "Front temperatures"
  TpmsWarning = 1 "Check tyres"
  TireTempFL = 25 degC
  TireTempFR = 30 degC
can0 300 ObjectDetection
  ObjectCount = 2
  ObjectDistance = 12.5 m
  ObjectRelSpeed = -2.5 m/s
  ObjectAngle = 0 deg
  ObjectClass = 3 "Pedestrian"
  TimeToCollision = 1.5 s
  FrameCounter = 7
  FrameChecksum = 171
(1700000000.800000) can0 170 InertialData
  LongitudinalAccel = 0.1 m/s2
  LateralAccel = -2.25 m/s2
'''

# JSON of FRAMES[1], [3], [4]: extended id, no timestamp, a float, an empty text object.
EXPECTED_JSON = [
    '{"t": 1700000000.6, "bus": "can0", "id": 419385573, "ext": true, "frame": "BatteryStatus", "signals": '
    '{"BatteryVoltage": 100, "BatteryCurrent": -1, "StateOfCharge": 80, "BatteryTemp": 215, "ChargingState": 1}, '
    '"text": {"BatteryTemp": "Sensor fault", "ChargingState": "Charging"}}',
    '{"t": null, "bus": "can0", "id": 768, "ext": false, "frame": "ObjectDetection", "signals": '
    '{"ObjectCount": 2, "ObjectDistance": 12.5, "ObjectRelSpeed": -2.5, "ObjectAngle": 0, "ObjectClass": 3, '
    '"TimeToCollision": 1.5, "FrameCounter": 7, "FrameChecksum": 171}, "text": {"ObjectClass": "Pedestrian"}}',
    '{"t": 1700000000.8, "bus": "can0", "id": 368, "ext": false, "frame": "InertialData", "signals": '
    '{"LongitudinalAccel": 0.10000000149011612, "LateralAccel": -2.25}, "text": {}}',
]

EXPECTED_CSV = '''\
t,bus,id,frame,signal,value,unit,text,raw
1700000000.6,can0,0x18FF50E5,BatteryStatus,BatteryVoltage,100,V,,10000
1700000000.6,can0,0x18FF50E5,BatteryStatus,BatteryCurrent,-1,A,,65526
1700000000.6,can0,0x18FF50E5,BatteryStatus,StateOfCharge,80,%,,160
1700000000.6,can0,0x18FF50E5,BatteryStatus,BatteryTemp,215,degC,Sensor fault,255
1700000000.6,can0,0x18FF50E5,BatteryStatus,ChargingState,1,,Charging,1
'''

# A log in every format with the lines a decoder must survive.
MIXED = [
    '(1700000000.000100) can0 0B0#FF9CFFE800000000', '  can0  0C0   [6]  03 C8 00 00 00 8B',
    '(1700000000.000300) can1 7FF#0102', '(1700000000.000400) can0 0B0#R', 'this is no frame',
    '(1700000000.000500) can0 18FF50E5#10.27.F6.FF.A0.FF.01.00', '(1700000000.000600) can0 20000080#0000000000000000',
    '', '(1700000000.000700) can0 110#0102', '(1700000000.000800) can0 300##102E20406FF0000030000C03F070000AB',
    '(1700000000.000900) can0 0B0#FF9CFFE800000000\r', '(bad) can0 123#00',
    '(1700000000.001000) can0 0B0#FF9CFFE8000000',
]


def run(*args, stdin=None, env=None):
    return subprocess.run([VEXO, *args], input=stdin, capture_output=True, text=True, env=env)


def ok(test, *args, **kwargs):
    """The standard output of a run that must succeed."""
    r = run(*args, **kwargs)
    test.assertEqual(r.returncode, 0, r.stderr)
    return r.stdout


def write(name, text):
    path = os.path.join(TMP, name)
    with open(path, 'w', newline='') as f:
        f.write(text)
    return path


def read(path):
    with open(path) as f:
        return f.read()


class CommandLine(unittest.TestCase):
    def test_help_and_version(self):
        self.assertRegex(ok(self, '--version'), r'^vexo \d+\.\d+\.\d+\n$')
        for args in (['--help'], ['help', 'plot'], *([c, '--help'] for c in
                                                     ('decode', 'dump', 'encode', 'convert', 'plot'))):
            with self.subTest(args=args):
                r = run(*args)
                self.assertEqual((r.returncode, r.stderr), (0, ''))
                self.assertIn('usage: vexo', r.stdout)

    def test_errors_have_one_line_and_an_exit_code(self):
        broken = write('broken.dbc', 'VERSION ""\nBU_: A\nBO_ 100 F: 8 A\n SG_ S : 0|8@1+ (1,0) [0|0] "" A B\n'
                                     'VAL_ 100 S 1 "x" 2 ;\n')
        broken_ldf = write('broken.ldf', 'LIN_description_file;\nLIN_protocol_version = "2.1";\nNodes {\n')
        raw = write('raw.dbc', 'VERSION ""\nBU_: A\nBO_ 100 F: 8 A\n SG_ Raw : 0|8@1+ (1,0) [0|0] "" A\n')
        missing = os.path.join(TMP, 'missing.dbc')
        cases = [
            ([], 2, r'usage: vexo COMMAND'), (['frobnicate'], 2, r'unknown command frobnicate'),
            (['decode'], 2, r'decode needs a database'), (['decode', '--format', 'xml', DB], 2, r'unknown format xml'),
            (['decode', '--bogus', DB], 2, r'unknown option --bogus'),
            (['decode', missing, LOG], 1, r'^vexo: error: cannot open database .*missing\.dbc: No such file'),
            (['decode', TMP, LOG], 1, r'cannot open database .*: it is a directory'),
            (['dump', broken], 1, r'^vexo: error: .*broken\.dbc:5:\d+: .*expected but found'),
            (['dump', broken_ldf], 1, r'^vexo: error: .*broken\.ldf:\d+:\d+: '),
            (['decode', DB, missing + '.log'], 1, r'cannot open log .*missing\.dbc\.log: No such file'),
            (['decode', '--signals', 'EngineSpeed,Nope', DB, LOG], 1, r'unknown signal Nope'),
            (['decode', '--signals', ',', DB, LOG], 2, r'no signal names given'),
            (['encode', DB, 'Nope'], 1, r'unknown frame Nope'),
            (['encode', DB, 'EngineData', 'Nope=1'], 1, r'unknown signal Nope \(not in frame EngineData\)'),
            (['encode', DB, 'EngineData', 'EngineSpeed=fast'], 1, r'bad value for signal EngineSpeed: fast is no number'),
            (['encode', DB, 'EngineData', 'EngineSpeed=-1'], 1, r'out of range \[0, 16383\.75\]'),
            (['encode', DB, 'TransmissionStatus', 'GearSelected=Fly'], 1, r'nor one of its value descriptions \(Park'),
            (['encode', DB, 'EngineData', 'EngineSpeed'], 2, r'expected SIGNAL=VALUE'),
            (['encode', DB, 'EngineData', 'EngineSpeed=1', 'EngineSpeed=2'], 2, r'given twice'),
            (['encode', raw, 'F', 'Raw=300'], 1, r'Raw: 300 cannot be represented by its coding \(8 bits'),
            (['encode', DB, 'TirePressure', 'TireTempFL=20', 'TireTempRL=20'], 1, r'different multiplexed parts'),
            (['encode', DB, 'TirePressure', 'TpmsPage=1', 'TireTempRL=20'], 1, r'sent when TpmsPage is 3, not 1'),
            (['convert', DB, 'out.xyz'], 2, r'cannot tell the output format'),
            (['plot', DB, LOG, 'EngineSpeed'], 2, r'-o OUT\.svg'),
        ]
        for args, code, message in cases:
            with self.subTest(args=args):
                r = run(*args)
                self.assertEqual((r.returncode, r.stdout), (code, ''), r.stderr)
                self.assertRegex(r.stderr, message)
                if code == 1:
                    self.assertEqual(r.stderr.count('\n'), 1, r.stderr)
        r = run('convert', DB, os.path.join(TMP, 'x.svg'), env={**os.environ, 'PATH': TMP})
        self.assertEqual(r.returncode, 1)
        self.assertIn("needs Graphviz's dot program", r.stderr)


class Decode(unittest.TestCase):
    def test_each_format_exactly(self):
        log = write('frames.log', '\n'.join(FRAMES) + '\n')
        self.assertEqual(run('decode', DB, log).stdout, EXPECTED_TEXT)
        json_lines = run('decode', '--format', 'json', DB, log).stdout.splitlines()
        self.assertEqual((len(json_lines), [json_lines[i] for i in (1, 3, 4)]), (5, EXPECTED_JSON))
        self.assertEqual(run('decode', '-f', 'csv', '--raw', '--signals', 'BatteryStatus.BatteryVoltage,'
                             'BatteryCurrent,StateOfCharge,BatteryTemp,ChargingState', DB, log).stdout, EXPECTED_CSV)
        frames = run('decode', '--frames', '--format', 'csv', DB, log).stdout.splitlines()
        self.assertEqual(frames[:3], ['t,bus,id,frame', '1700000000.5,can0,0x0B0,SteeringAngle',
                                      '1700000000.6,can0,0x18FF50E5,BatteryStatus'])
        raw = json.loads(run('decode', '--raw', '-f', 'json', DB, log).stdout.splitlines()[0])
        self.assertEqual(raw['raw'], {'SteeringWheelAngle': 0xFF9C, 'SteeringWheelRate': 0xFFE,
                                      'SteeringSensorStatus': 2})

    def test_values_are_exact_and_read_back_as_the_same_double(self):
        # The physical values computed here from the raw values and the DBC's own
        # factors must be the very doubles the tool wrote, in their shortest form (the GM
        # log adds whole numbers beyond 2^53 and fractions below 0.1).
        sys.path.insert(0, os.path.join(SOURCE, 'examples'))
        import make_vehicle_log as network
        gm = os.path.join(CORPUS, '%s', 'opendbc__gm_global_a_lowspeed_1818125.%s')
        corpus = [(gm % ('dbc', 'dbc'), gm % ('logs', 'log'))] if os.path.exists(gm % ('logs', 'log')) else []
        for db, log in [(DB, LOG)] + corpus:
            frames = {f.raw_ident & 0x9FFFFFFF: {s.name: s for s in f.signals} for f in network.read_dbc(db)}
            lines = ok(self, 'decode', '-f', 'json', '--raw', db, log).splitlines()
            self.assertEqual(len(lines), len(read(log).splitlines()))
            for line in lines:
                record = json.loads(line)
                signals = frames[record['id'] | (0x80000000 if record['ext'] else 0)]
                for name, value in record['signals'].items():
                    s, raw = signals[name], record['raw'][name]
                    if s.float:
                        expected = struct.unpack('<f', struct.pack('<I', raw))[0]
                    else:
                        if s.signed and raw >= 1 << (s.length - 1):
                            raw -= 1 << s.length
                        expected = raw * s.factor + s.offset
                    self.assertEqual(value, expected, line)
                    token = re.search(r'"%s": (-?[0-9.e+-]+)' % name, line).group(1)
                    self.assertLessEqual(len(token), len(repr(expected)), line)
                self.assertLessEqual(set(record['text']), set(record['signals']))

    def test_mixed_log_counts_what_it_cannot_decode(self):
        log = write('mixed.log', '\n'.join(MIXED) + '\n')
        r = run('decode', '--frames', DB, log)
        self.assertEqual((r.returncode, r.stdout.splitlines()), (0, [
            '(1700000000.000100) can0 0B0 SteeringAngle', 'can0 0C0 BrakeStatus',
            '(1700000000.000500) can0 18FF50E5 BatteryStatus', '(1700000000.000800) can0 300 ObjectDetection',
            '(1700000000.000900) can0 0B0 SteeringAngle',
        ]))
        self.assertEqual(r.stderr.splitlines(), [
            'vexo: warning: 2 lines are not a CAN frame (the first: %s:5)' % log,
            'vexo: warning: 3 frames are not described by %s: 0B0 (1), 110 (1), 7FF (1); 2 of them with a known '
            'identifier but another length' % DB, 'vexo: note: skipped 1 remote and 1 error frames',
        ])
        for args in (['-f', 'json', '--raw'], ['-f', 'text']):
            batch, steps = run('decode', *args, DB, log, LOG), run('decode', *args, DB, log, LOG, env=STEPS)
            self.assertEqual((steps.stdout, steps.stderr), (batch.stdout, batch.stderr), args)
        strict = run('decode', '--strict', DB, log)
        self.assertEqual(strict.stderr, 'vexo: error: %s:3: frame 7FF [2] is not described by %s\n' % (log, DB))
        self.assertEqual((strict.returncode, strict.stdout.count('\n')), (1, 12), 'frames before the failure written')
        # A line longer than the reader's buffer is one line that is no frame.
        long_line = write('long.log', FRAMES[0] + '\n' + 'x' * 3000000 + '\n' + FRAMES[2] + '\n')
        r = run('decode', '--frames', DB, long_line)
        self.assertEqual(r.stdout.count('\n'), 2)
        self.assertEqual(r.stderr, 'vexo: warning: 1 line is not a CAN frame (the first: %s:2)\n' % long_line)
        garbage = write('garbage.log', '(1.0) can0 0B0#FF9CFFE800000000\n(1.1) can0 0B0#XYZ\r')  # no last line end
        strict = run('decode', '--strict', DB, garbage)
        self.assertEqual(strict.stderr, 'vexo: error: %s:2: not a CAN frame: (1.1) can0 0B0#XYZ\n' % garbage)

    def test_standard_input_streams_like_a_file(self):
        text = read(LOG)
        from_file = run('decode', '-f', 'csv', DB, LOG)
        self.assertEqual(run('decode', '-f', 'csv', DB, '-', stdin=text).stdout, from_file.stdout)
        self.assertEqual(run('decode', '-f', 'csv', DB, stdin=text).stdout, from_file.stdout)
        # Two logs in a row, one of them standard input, are decoded in order.
        both = run('decode', '--frames', DB, LOG, '-', stdin=FRAMES[0] + '\n').stdout.splitlines()
        self.assertEqual(len(both), len(text.splitlines()) + 1)
        self.assertEqual(both[-1], '(1700000000.500000) can0 0B0 SteeringAngle')

    def test_a_live_log_shows_at_once(self):
        # A frame is written out while the writer still holds its pipe open.
        tool = subprocess.Popen([VEXO, 'decode', '--frames', DB], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                text=True)
        tool.stdin.write(FRAMES[0] + '\n')
        tool.stdin.flush()
        shown = select.select([tool.stdout], [], [], 60)[0]
        self.assertEqual(tool.stdout.readline() if shown else 'nothing', '(1700000000.500000) can0 0B0 SteeringAngle\n')
        tool.stdin.close()
        self.assertEqual(tool.wait(), 0)

    def test_signal_selection_drops_other_signals_and_frames(self):
        out = run('decode', '-f', 'json', '--signals', 'GearSelected,TirePressureRL', DB, LOG).stdout
        records = [json.loads(line) for line in out.splitlines()]
        self.assertEqual({r['frame'] for r in records}, {'TransmissionStatus', 'TirePressure'})
        for r in records:
            self.assertIn(set(r['signals']), ({'GearSelected'}, {'TirePressureRL'}))
        gears = [r['text']['GearSelected'] for r in records if r['frame'] == 'TransmissionStatus']
        self.assertEqual((gears[0], gears[-1]), ('Park', 'Drive'))

    @unittest.skipUnless(os.path.isdir(os.path.join(CORPUS, 'logs')), 'corpus not found')
    def test_corpus_logs(self):
        for log in sorted(os.listdir(os.path.join(CORPUS, 'logs'))):
            dbc, path = os.path.join(CORPUS, 'dbc', log[:-4] + '.dbc'), os.path.join(CORPUS, 'logs', log)
            with self.subTest(log=log):
                r = run('decode', '-f', 'json', dbc, path)
                self.assertEqual((r.returncode, r.stderr), (0, ''))
                records = [json.loads(line) for line in r.stdout.splitlines()]
                self.assertEqual(len(records), 2000)
                self.assertTrue(any(rec['signals'] for rec in records))
                # The step functions give the batch plans' output byte for byte.
                for args in (['-f', 'json'], ['-f', 'csv', '--raw'], ['-f', 'text']):
                    batch = run('decode', *args, dbc, path)
                    self.assertEqual(run('decode', *args, dbc, path, env=STEPS).stdout, batch.stdout, args)
        toyota = os.path.join(CORPUS, 'logs', 'opendbc__toyota_prius_2010_pt.log')
        if os.path.exists(toyota):
            out = os.path.join(TMP, 'toyota.svg')
            ok(self, 'plot', os.path.join(CORPUS, 'dbc', 'opendbc__toyota_prius_2010_pt.dbc'), toyota, 'SPEED',
               'STEER_TORQUE_EPS', '-o', out)
            self.assertEqual(read(out).count('<polyline'), 2)


class OtherCommands(unittest.TestCase):
    def test_dump_lists_layout_and_multiplexing(self):
        lines = ok(self, 'dump', DB).splitlines()
        self.assertEqual(lines[0], DB + ': 12 frames, 65 signals, 7 ECUs, channel vehicle')
        for expected in [
            'frame BatteryStatus: id 0x18FF50E5 extended, 8 bytes, sender Gateway, cycle 100 ms',
            'frame ObjectDetection: id 0x300, 16 bytes, CAN FD with bit rate switch, sender Gateway, cycle 50 ms',
            '  signal SteeringWheelAngle: bit 7, length 16, big-endian, signed, factor 0.1, offset 0, '
            'range [-780, 780], unit "deg", receivers Brakes Dash',
            '    # Positive to the left',
            '  signal LateralAccel: bit 32, length 32, little-endian, float, factor 1, offset 0, range [-50, 50], '
            'unit "m/s2", receivers Steering',
            '    values: 0 "Park" 1 "Reverse" 2 "Neutral" 3 "Drive" 4 "Sport" 15 "Invalid"',
        ]:
            self.assertIn(expected, lines)
        start = lines.index('  multiplexer TpmsPage: bit 0, length 2, little-endian')
        tree = [l.split(':')[0] for l in lines[start + 1:start + 20] if not l.lstrip().startswith(('#', 'values'))]
        self.assertEqual(tree[:6], ['    always', '      signal TpmsPage', '      signal TpmsWarning',
                                    '    TpmsPage = 0', '      signal TirePressureFL', '      signal TirePressureFR'])

    def test_encoded_frames_decode_to_the_values_given(self):
        # (frame, values given, values the frame must decode to besides those given)
        cases = [
            ('EngineData', {'EngineSpeed': 2000, 'CoolantTemp': 90, 'EngineTorque': -12.5}, {}),
            ('SteeringAngle', {'SteeringWheelAngle': -123.4, 'SteeringSensorStatus': 'Fault'}, {}),
            ('BatteryStatus', {'BatteryCurrent': -12.3, 'ChargingState': 'Error'}, {}),
            ('TirePressure', {'TireTempRL': 31}, {'TpmsPage': 'Rear temperatures'}),
            ('ObjectDetection', {'ObjectDistance': 12.5, 'TimeToCollision': 1.25, 'ObjectClass': 'Truck'}, {}),
            ('0x3C0', {}, {'TargetTemp': 21}),  # initial values: TargetTemp starts at raw 22
        ]
        for frame, values, implied in cases:
            with self.subTest(frame=frame):
                line = ok(self, 'encode', DB, frame, *('%s=%s' % kv for kv in values.items()))
                self.assertRegex(line, r'^\(0\.000000\) can0 [0-9A-F]+##?[0-9A-F]*\n$')
                record = json.loads(run('decode', '-f', 'json', DB, stdin=line).stdout)
                for name, value in {**values, **implied}.items():
                    if isinstance(value, str):
                        self.assertEqual(record['text'][name], value)
                    else:
                        self.assertAlmostEqual(record['signals'][name], value, places=6)
        line = run('encode', '--bus', 'vcan1', '--time', '12.5', DB, 'ClimateControl', 'TargetTemp=21.3')
        self.assertEqual(line.stdout, '(12.5) vcan1 3C0#00170000\n')
        self.assertIn('TargetTemp = 21.3 is sent as 21.5', line.stderr)

    def test_convert_to_dbc_keeps_the_database(self):
        out, dot = os.path.join(TMP, 'copy.dbc'), os.path.join(TMP, 'vehicle.dot')
        ok(self, 'convert', DB, out)
        self.assertEqual(run('dump', out).stdout.splitlines()[1:], run('dump', DB).stdout.splitlines()[1:])
        ok(self, 'convert', DB, dot)
        self.assertTrue(read(dot).startswith('digraph'))

    @unittest.skipUnless(shutil.which('dot') and shutil.which('xmllint'), 'Graphviz or xmllint not installed')
    def test_convert_draws_with_graphviz(self):
        out = os.path.join(TMP, 'vehicle.svg')
        ok(self, 'convert', '--to', 'svg', DB, out)
        self.assertEqual(subprocess.run(['xmllint', '--noout', out]).returncode, 0)

    def test_plot_is_valid_svg_with_a_panel_per_unit(self):
        out = os.path.join(TMP, 'plot.svg')
        names = ['VehicleSpeed', 'WheelSpeedFL', 'EngineSpeed', 'BatteryStatus.BatteryCurrent']
        ok(self, 'plot', DB, LOG, *names, '-o', out, '--title', 'A & B <drive>')
        svg = read(out)
        if shutil.which('xmllint'):
            self.assertEqual(subprocess.run(['xmllint', '--noout', out]).returncode, 0)
        self.assertIn('<title>A &amp; B &lt;drive&gt;</title>', svg)
        self.assertEqual(svg.count('<polyline'), 4)
        self.assertEqual(svg.count('<clipPath'), 3, 'km/h, rpm and A')
        for name in names:
            self.assertIn('>%s</text>' % name, svg)
        self.assertEqual(len(set(re.findall(r'<polyline[^>]*stroke="(#[0-9a-f]+)"', svg))), 4)
        # The speed panel's value axis spans the drive's top speed (about 57 km/h).
        speed_ticks = re.findall(r'text-anchor="end">([0-9.-]+)</text>', svg.split('<clipPath')[1])
        self.assertIn('40', speed_ticks)

    @unittest.skipUnless(os.path.isdir(os.path.join(CORPUS, 'ldf')), 'corpus not found')
    def test_corpus_databases_round_trip_through_dbc(self):
        for name in ('dbc/cantools__multiplex_2.dbc', 'dbc/opendbc__vw_pq.dbc', 'dbc/opendbc__toyota_prius_2010_pt.dbc',
                     'ldf/ldfparser__lin22.ldf'):
            with self.subTest(database=name):
                path = os.path.join(CORPUS, name)
                dump = ok(self, 'dump', path)
                self.assertGreater(dump.count('\nframe '), 1)
                if name.endswith('.dbc'):
                    copy = os.path.join(TMP, os.path.basename(name))
                    ok(self, 'convert', path, copy)
                    self.assertEqual(run('dump', copy).stdout.splitlines()[1:], dump.splitlines()[1:])
        lin = os.path.join(CORPUS, 'ldf/ldfparser__lin22.ldf')
        line = run('encode', lin, 'LSM_Frm1', 'LeftIntLightsSwitch=150').stdout
        self.assertEqual(json.loads(run('decode', '-f', 'json', lin, stdin=line).stdout)['signals'],
                         {'LeftIntLightsSwitch': 150})


if __name__ == '__main__':
    unittest.main(verbosity=2)
