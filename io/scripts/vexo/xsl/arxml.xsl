<?xml version="1.0" encoding="UTF-8"?>
<!-- AUTOSAR 3.x and 4.x system descriptions as records for vexo/arxml_import.lua: one line
     per element, fields separated by tabs (the records are listed there). The packages are
     walked from the root down, so every element's path (its short names from the root) is
     built on the way. A reference is written as its text, "|" and its BASE attribute;
     relative ones are resolved in Lua with the reference bases of the packages (PK, RB).
     Elements are matched by local name, so every AUTOSAR namespace is read alike; each
     record is one concat() because libxslt spends more on template calls than on paths.
     Tabs and line ends inside texts become U+E000 to U+E002 (vexo/xml.lua turns them
     back). -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text" encoding="UTF-8"/>

  <xsl:variable name="T" select="'&#9;'"/>
  <xsl:variable name="N" select="'&#10;'"/>
  <xsl:variable name="controls" select="'&#9;&#10;&#13;'"/>
  <xsl:variable name="escapes" select="'&#xE000;&#xE001;&#xE002;'"/>

  <xsl:template match="/">
    <xsl:variable name="root" select="*"/>
    <xsl:variable name="ns" select="namespace-uri($root)"/>
    <xsl:if test="local-name($root) != 'AUTOSAR' or not(starts-with($ns, 'http://autosar.org/schema/r4.') or starts-with($ns, 'http://autosar.org/3.'))">
      <xsl:message terminate="yes">no AUTOSAR 3 or 4 document: the root element is <xsl:value-of select="local-name($root)"/> in the namespace '<xsl:value-of select="$ns"/>' (AUTOSAR, in http://autosar.org/schema/r4.0 or http://autosar.org/3.x, is read)</xsl:message>
    </xsl:if>
    <xsl:if test="starts-with($ns, 'http://autosar.org/schema/r4.') and $ns != 'http://autosar.org/schema/r4.0'">
      <xsl:message terminate="yes">no AUTOSAR 3 or 4 document: unknown namespace '<xsl:value-of select="$ns"/>' (AUTOSAR 4 documents use http://autosar.org/schema/r4.0)</xsl:message>
    </xsl:if>
    <xsl:value-of select="concat('V', $T, $ns, $N)"/>
    <xsl:for-each select="$root/*[local-name() = 'AR-PACKAGES' or local-name() = 'TOP-LEVEL-PACKAGES']/*[local-name() = 'AR-PACKAGE']">
      <xsl:call-template name="package"/>
    </xsl:for-each>
  </xsl:template>

  <!-- PK path; RB package label isDefault packageRef. -->
  <xsl:template name="package">
    <xsl:param name="p"/>
    <xsl:variable name="me" select="concat($p, '/', normalize-space(*[local-name() = 'SHORT-NAME']))"/>
    <xsl:variable name="bases" select="*[local-name() = 'REFERENCE-BASES']/*"/>
    <xsl:if test="$bases">
      <xsl:value-of select="concat('PK', $T, $me, $N)"/>
      <xsl:for-each select="$bases">
        <xsl:value-of select="concat('RB', $T, $me, $T, normalize-space(*[local-name() = 'SHORT-LABEL']), $T,
          normalize-space(*[local-name() = 'IS-DEFAULT']), $T, normalize-space(*[local-name() = 'PACKAGE-REF']), $N)"/>
      </xsl:for-each>
    </xsl:if>
    <xsl:for-each select="*[local-name() = 'ELEMENTS']/*">
      <xsl:call-template name="element">
        <xsl:with-param name="path" select="concat($me, '/', normalize-space(*[local-name() = 'SHORT-NAME']))"/>
      </xsl:call-template>
    </xsl:for-each>
    <xsl:for-each select="*[local-name() = 'AR-PACKAGES' or local-name() = 'SUB-PACKAGES']/*[local-name() = 'AR-PACKAGE']">
      <xsl:call-template name="package"><xsl:with-param name="p" select="$me"/></xsl:call-template>
    </xsl:for-each>
  </xsl:template>

  <xsl:template name="element">
    <xsl:param name="path"/>
    <xsl:variable name="kind" select="local-name()"/>
    <xsl:variable name="name" select="normalize-space(*[local-name() = 'SHORT-NAME'])"/>
    <xsl:variable name="desc" select="*[local-name() = 'DESC']/*"/>
    <xsl:variable name="description" select="concat(translate($desc[1], $controls, $escapes), $T, count($desc))"/>
    <xsl:choose>
      <!-- IS path name length initValue initConstant baseType compuMethod unit systemSignal
           dataConstr desc languages initKind -->
      <xsl:when test="$kind = 'I-SIGNAL'">
        <xsl:variable name="props" select="*[local-name() = 'NETWORK-REPRESENTATION-PROPS']/*[local-name() = 'SW-DATA-DEF-PROPS-VARIANTS']/*[local-name() = 'SW-DATA-DEF-PROPS-CONDITIONAL']"/>
        <xsl:variable name="init" select="*[local-name() = 'INIT-VALUE']/*"/>
        <xsl:variable name="constant" select="$init/*[local-name() = 'CONSTANT-REF']"/>
        <xsl:variable name="base" select="$props/*[local-name() = 'BASE-TYPE-REF']"/>
        <xsl:variable name="method" select="$props/*[local-name() = 'COMPU-METHOD-REF']"/>
        <xsl:variable name="unit" select="$props/*[local-name() = 'UNIT-REF']"/>
        <xsl:variable name="system" select="*[local-name() = 'SYSTEM-SIGNAL-REF']"/>
        <xsl:variable name="constraint" select="$props/*[local-name() = 'DATA-CONSTR-REF']"/>
        <xsl:value-of select="concat('IS', $T, $path, $T, $name, $T, normalize-space(*[local-name() = 'LENGTH']), $T,
          normalize-space($init/*[local-name() = 'VALUE']), $T,
          normalize-space($constant), '|', $constant/@BASE, $T, normalize-space($base), '|', $base/@BASE, $T,
          normalize-space($method), '|', $method/@BASE, $T, normalize-space($unit), '|', $unit/@BASE, $T,
          normalize-space($system), '|', $system/@BASE, $T, normalize-space($constraint), '|', $constraint/@BASE, $T,
          $description, $T, local-name($init), $N)"/>
      </xsl:when>
      <!-- SS path name length compuMethod unit dataType initValue dataConstr desc languages
           longName languages -->
      <xsl:when test="$kind = 'SYSTEM-SIGNAL'">
        <xsl:variable name="props" select="*[local-name() = 'PHYSICAL-PROPS']/*[local-name() = 'SW-DATA-DEF-PROPS-VARIANTS']/*[local-name() = 'SW-DATA-DEF-PROPS-CONDITIONAL']"/>
        <xsl:variable name="method" select="$props/*[local-name() = 'COMPU-METHOD-REF']"/>
        <xsl:variable name="unit" select="$props/*[local-name() = 'UNIT-REF']"/>
        <xsl:variable name="type" select="*[local-name() = 'DATA-TYPE-REF']"/>
        <xsl:variable name="init" select="*[local-name() = 'INIT-VALUE-REF']"/>
        <xsl:variable name="constraint" select="$props/*[local-name() = 'DATA-CONSTR-REF']"/>
        <xsl:variable name="long" select="*[local-name() = 'LONG-NAME']/*"/>
        <xsl:value-of select="concat('SS', $T, $path, $T, $name, $T, normalize-space(*[local-name() = 'LENGTH']), $T,
          normalize-space($method), '|', $method/@BASE, $T, normalize-space($unit), '|', $unit/@BASE, $T,
          normalize-space($type), '|', $type/@BASE, $T, normalize-space($init), '|', $init/@BASE, $T,
          normalize-space($constraint), '|', $constraint/@BASE, $T, $description, $T,
          translate($long[1], $controls, $escapes), $T, count($long), $N)"/>
      </xsl:when>
      <xsl:when test="$kind = 'I-SIGNAL-I-PDU' or $kind = 'SIGNAL-I-PDU' or $kind = 'NM-PDU' or $kind = 'N-PDU' or $kind = 'DCM-I-PDU' or $kind = 'GENERAL-PURPOSE-PDU' or $kind = 'GENERAL-PURPOSE-I-PDU' or $kind = 'XCP-PDU' or $kind = 'USER-DEFINED-PDU' or $kind = 'USER-DEFINED-I-PDU' or $kind = 'J-1939-DCM-I-PDU' or $kind = 'MULTIPLEXED-I-PDU' or $kind = 'CONTAINER-I-PDU' or $kind = 'SECURED-I-PDU'">
        <xsl:call-template name="pdu">
          <xsl:with-param name="path" select="$path"/>
          <xsl:with-param name="name" select="$name"/>
          <xsl:with-param name="description" select="$description"/>
        </xsl:call-template>
      </xsl:when>
      <!-- FR path name length desc languages; FM frame pdu byteOrder startPosition -->
      <xsl:when test="$kind = 'CAN-FRAME' or $kind = 'FRAME'">
        <xsl:value-of select="concat('FR', $T, $path, $T, $name, $T, normalize-space(*[local-name() = 'FRAME-LENGTH']), $T,
          $description, $N)"/>
        <xsl:for-each select="*[local-name() = 'PDU-TO-FRAME-MAPPINGS']/*">
          <xsl:variable name="pdu" select="*[local-name() = 'PDU-REF']"/>
          <xsl:value-of select="concat('FM', $T, $path, $T, normalize-space($pdu), '|', $pdu/@BASE, $T,
            normalize-space(*[local-name() = 'PACKING-BYTE-ORDER']), $T, normalize-space(*[local-name() = 'START-POSITION']), $N)"/>
        </xsl:for-each>
      </xsl:when>
      <xsl:when test="$kind = 'CAN-CLUSTER' or $kind = 'FLEXRAY-CLUSTER' or $kind = 'LIN-CLUSTER' or $kind = 'ETHERNET-CLUSTER' or $kind = 'TTCAN-CLUSTER'">
        <xsl:call-template name="cluster">
          <xsl:with-param name="path" select="$path"/>
          <xsl:with-param name="name" select="$name"/>
          <xsl:with-param name="description" select="$description"/>
        </xsl:call-template>
      </xsl:when>
      <!-- CM path name category unit desc languages physToInternal; CS method lower
           lowerType upper upperType numerator denominator vt v vtCount (numerator and
           denominator: "[" and the V values separated by blanks; empty when missing).
           Only the internal-to-physical scales are read. -->
      <xsl:when test="$kind = 'COMPU-METHOD'">
        <xsl:variable name="unit" select="*[local-name() = 'UNIT-REF']"/>
        <xsl:value-of select="concat('CM', $T, $path, $T, $name, $T, normalize-space(*[local-name() = 'CATEGORY']), $T,
          normalize-space($unit), '|', $unit/@BASE, $T, $description, $T, count(*[local-name() = 'COMPU-PHYS-TO-INTERNAL']), $N)"/>
        <xsl:for-each select="*[local-name() = 'COMPU-INTERNAL-TO-PHYS']/*[local-name() = 'COMPU-SCALES']/*">
          <xsl:variable name="coefficients" select="*[local-name() = 'COMPU-RATIONAL-COEFFS']"/>
          <xsl:variable name="lower" select="*[local-name() = 'LOWER-LIMIT']"/>
          <xsl:variable name="upper" select="*[local-name() = 'UPPER-LIMIT']"/>
          <xsl:variable name="const" select="*[local-name() = 'COMPU-CONST']"/>
          <xsl:value-of select="concat('CS', $T, $path, $T, normalize-space($lower), $T, normalize-space($lower/@INTERVAL-TYPE), $T,
            normalize-space($upper), $T, normalize-space($upper/@INTERVAL-TYPE), $T)"/>
          <xsl:if test="$coefficients">
            <xsl:text>[</xsl:text>
            <xsl:for-each select="$coefficients/*[local-name() = 'COMPU-NUMERATOR']/*">
              <xsl:value-of select="concat(' ', normalize-space(.))"/>
            </xsl:for-each>
          </xsl:if>
          <xsl:value-of select="$T"/>
          <xsl:if test="$coefficients">
            <xsl:text>[</xsl:text>
            <xsl:for-each select="$coefficients/*[local-name() = 'COMPU-DENOMINATOR']/*">
              <xsl:value-of select="concat(' ', normalize-space(.))"/>
            </xsl:for-each>
          </xsl:if>
          <xsl:value-of select="concat($T, translate($const/*[local-name() = 'VT'], $controls, $escapes), $T,
            normalize-space($const/*[local-name() = 'V']), $T, count($const/*[local-name() = 'VT']), $N)"/>
        </xsl:for-each>
      </xsl:when>
      <!-- UN path name displayName -->
      <xsl:when test="$kind = 'UNIT'">
        <xsl:value-of select="concat('UN', $T, $path, $T, $name, $T,
          translate(*[local-name() = 'DISPLAY-NAME'], $controls, $escapes), $N)"/>
      </xsl:when>
      <!-- BT path name size encoding -->
      <xsl:when test="$kind = 'SW-BASE-TYPE'">
        <xsl:value-of select="concat('BT', $T, $path, $T, $name, $T, normalize-space(*[local-name() = 'BASE-TYPE-SIZE']), $T,
          normalize-space(*[local-name() = 'BASE-TYPE-ENCODING']), $N)"/>
      </xsl:when>
      <!-- DT path kind compuMethod lower upper encoding (AUTOSAR 3 data types) -->
      <xsl:when test="$kind = 'INTEGER-TYPE' or $kind = 'REAL-TYPE' or $kind = 'BOOLEAN-TYPE' or $kind = 'CHAR-TYPE' or $kind = 'STRING-TYPE' or $kind = 'OPAQUE-TYPE'">
        <xsl:variable name="method" select="*[local-name() = 'SW-DATA-DEF-PROPS']/*[local-name() = 'COMPU-METHOD-REF']"/>
        <xsl:value-of select="concat('DT', $T, $path, $T, $kind, $T, normalize-space($method), '|', $method/@BASE, $T,
          normalize-space(*[local-name() = 'LOWER-LIMIT']), $T, normalize-space(*[local-name() = 'UPPER-LIMIT']), $T,
          normalize-space(*[local-name() = 'ENCODING']), $N)"/>
      </xsl:when>
      <!-- DC path physLower physUpper internalLower internalUpper -->
      <xsl:when test="$kind = 'DATA-CONSTR'">
        <xsl:variable name="rule" select="*[local-name() = 'DATA-CONSTR-RULES']/*[1]"/>
        <xsl:variable name="phys" select="$rule/*[local-name() = 'PHYS-CONSTRS']"/>
        <xsl:variable name="internal" select="$rule/*[local-name() = 'INTERNAL-CONSTRS']"/>
        <xsl:value-of select="concat('DC', $T, $path, $T, normalize-space($phys/*[local-name() = 'LOWER-LIMIT']), $T,
          normalize-space($phys/*[local-name() = 'UPPER-LIMIT']), $T, normalize-space($internal/*[local-name() = 'LOWER-LIMIT']), $T,
          normalize-space($internal/*[local-name() = 'UPPER-LIMIT']), $N)"/>
      </xsl:when>
      <!-- K path value literalPath (AUTOSAR 3 refers to the literal inside): a constant is a
           CONSTANT-... element that holds its value (VALUE-SPEC, in AUTOSAR 3 VALUE); the
           mapping sets of AUTOSAR 4, also named CONSTANT-..., hold none -->
      <xsl:when test="starts-with($kind, 'CONSTANT-') and *[local-name() = 'VALUE-SPEC' or local-name() = 'VALUE']">
        <xsl:variable name="literal" select="*[local-name() = 'VALUE-SPEC' or local-name() = 'VALUE']/*"/>
        <xsl:value-of select="concat('K', $T, $path, $T, normalize-space($literal/*[local-name() = 'VALUE']), $T, $path, '/',
          normalize-space($literal/*[local-name() = 'SHORT-NAME']), $N)"/>
      </xsl:when>
      <!-- EC path name desc languages; PO port ecu kind direction (the ports of the ECU's
           connectors); EG ecu pduGroup -->
      <xsl:when test="$kind = 'ECU-INSTANCE'">
        <xsl:value-of select="concat('EC', $T, $path, $T, $name, $T, $description, $N)"/>
        <xsl:for-each select="*[local-name() = 'CONNECTORS']/*">
          <xsl:variable name="connector" select="concat($path, '/', normalize-space(*[local-name() = 'SHORT-NAME']))"/>
          <xsl:for-each select="*[local-name() = 'ECU-COMM-PORT-INSTANCES']/*">
            <xsl:value-of select="concat('PO', $T, $connector, '/', normalize-space(*[local-name() = 'SHORT-NAME']), $T, $path, $T,
              local-name(), $T, normalize-space(*[local-name() = 'COMMUNICATION-DIRECTION']), $N)"/>
          </xsl:for-each>
        </xsl:for-each>
        <xsl:for-each select="*[local-name() = 'ASSOCIATED-COM-I-PDU-GROUP-REFS' or local-name() = 'ASSOCIATED-I-PDU-GROUP-REFS']/*">
          <xsl:value-of select="concat('EG', $T, $path, $T, normalize-space(.), '|', @BASE, $N)"/>
        </xsl:for-each>
      </xsl:when>
      <!-- PG path direction; GP group pdu; GG group group -->
      <xsl:when test="$kind = 'I-SIGNAL-I-PDU-GROUP' or $kind = 'I-PDU-GROUP'">
        <xsl:value-of select="concat('PG', $T, $path, $T, normalize-space(*[local-name() = 'COMMUNICATION-DIRECTION']), $N)"/>
        <xsl:for-each select="*[local-name() = 'I-SIGNAL-I-PDUS']/*/*[local-name() = 'I-SIGNAL-I-PDU-REF'] | *[local-name() = 'I-PDU-REFS']/*">
          <xsl:value-of select="concat('GP', $T, $path, $T, normalize-space(.), '|', @BASE, $N)"/>
        </xsl:for-each>
        <xsl:for-each select="*[local-name() = 'CONTAINED-I-SIGNAL-I-PDU-GROUP-REFS' or local-name() = 'CONTAINED-I-PDU-GROUP-REFS']/*">
          <xsl:value-of select="concat('GG', $T, $path, $T, normalize-space(.), '|', @BASE, $N)"/>
        </xsl:for-each>
      </xsl:when>
      <!-- SG path kind transformations -->
      <xsl:when test="$kind = 'I-SIGNAL-GROUP' or $kind = 'SYSTEM-SIGNAL-GROUP'">
        <xsl:value-of select="concat('SG', $T, $path, $T, $kind, $T, count(*[local-name() = 'TRANSFORMATION-I-SIGNAL-PROPSS']/*), $N)"/>
      </xsl:when>
      <!-- X path kind: an element the importer does not read -->
      <xsl:otherwise>
        <xsl:value-of select="concat('X', $T, $path, $T, $kind, $N)"/>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- CL path kind name baudrate fdBaudrate desc languages; CH path cluster name desc
       languages; FT path channel frame addressingMode identifier rxBehavior txBehavior
       kind; FP triggering port; PT path channel pdu; ST path channel signal; SP
       triggering port. -->
  <xsl:template name="cluster">
    <xsl:param name="path"/>
    <xsl:param name="name"/>
    <xsl:param name="description"/>
    <xsl:variable name="conditional" select="self::* | *[contains(local-name(), 'CLUSTER-VARIANTS')]/*[contains(local-name(), 'CLUSTER-CONDITIONAL')]"/>
    <xsl:value-of select="concat('CL', $T, $path, $T, local-name(), $T, $name, $T,
      normalize-space($conditional/*[local-name() = 'BAUDRATE' or local-name() = 'SPEED']), $T,
      normalize-space($conditional/*[local-name() = 'CAN-FD-BAUDRATE']), $T, $description, $N)"/>
    <xsl:for-each select="$conditional/*[local-name() = 'PHYSICAL-CHANNELS']/*">
      <xsl:variable name="channel" select="concat($path, '/', normalize-space(*[local-name() = 'SHORT-NAME']))"/>
      <xsl:variable name="desc" select="*[local-name() = 'DESC']/*"/>
      <xsl:value-of select="concat('CH', $T, $channel, $T, $path, $T, normalize-space(*[local-name() = 'SHORT-NAME']), $T,
        translate($desc[1], $controls, $escapes), $T, count($desc), $N)"/>
      <xsl:for-each select="*[local-name() = 'FRAME-TRIGGERINGS' or local-name() = 'FRAME-TRIGGERINGSS']/*">
        <xsl:variable name="triggering" select="concat($channel, '/', normalize-space(*[local-name() = 'SHORT-NAME']))"/>
        <xsl:variable name="frame" select="*[local-name() = 'FRAME-REF']"/>
        <xsl:value-of select="concat('FT', $T, $triggering, $T, $channel, $T, normalize-space($frame), '|', $frame/@BASE, $T,
          normalize-space(*[local-name() = 'CAN-ADDRESSING-MODE']), $T, normalize-space(*[local-name() = 'IDENTIFIER']), $T,
          normalize-space(*[local-name() = 'CAN-FRAME-RX-BEHAVIOR']), $T, normalize-space(*[local-name() = 'CAN-FRAME-TX-BEHAVIOR']), $T,
          local-name(), $N)"/>
        <xsl:for-each select="*[local-name() = 'FRAME-PORT-REFS']/*">
          <xsl:value-of select="concat('FP', $T, $triggering, $T, normalize-space(.), '|', @BASE, $N)"/>
        </xsl:for-each>
      </xsl:for-each>
      <xsl:for-each select="*[local-name() = 'PDU-TRIGGERINGS' or local-name() = 'I-PDU-TRIGGERINGS']/*">
        <xsl:variable name="pdu" select="*[local-name() = 'I-PDU-REF']"/>
        <xsl:value-of select="concat('PT', $T, $channel, '/', normalize-space(*[local-name() = 'SHORT-NAME']), $T, $channel, $T,
          normalize-space($pdu), '|', $pdu/@BASE, $N)"/>
      </xsl:for-each>
      <xsl:for-each select="*[local-name() = 'I-SIGNAL-TRIGGERINGS']/*">
        <xsl:variable name="triggering" select="concat($channel, '/', normalize-space(*[local-name() = 'SHORT-NAME']))"/>
        <xsl:variable name="signal" select="*[local-name() = 'I-SIGNAL-REF' or local-name() = 'SIGNAL-REF']"/>
        <xsl:value-of select="concat('ST', $T, $triggering, $T, $channel, $T, normalize-space($signal), '|', $signal/@BASE, $N)"/>
        <xsl:for-each select="*[local-name() = 'I-SIGNAL-PORT-REFS']/*">
          <xsl:value-of select="concat('SP', $T, $triggering, $T, normalize-space(.), '|', @BASE, $N)"/>
        </xsl:for-each>
      </xsl:for-each>
    </xsl:for-each>
  </xsl:template>

  <!-- PDU path kind name length desc languages headerIdShort headerIdLong; then by kind:
       SM pdu name signal signalGroup byteOrder startPosition updateBit;
       TM pdu cyclePeriod cycleOfFalse eventControlled minimumDelay repetitions;
       MX pdu selectorStart selectorLength selectorByteOrder; MS mux pdu; MD mux pdu code;
       CO pdu headerType headerByteOrder; CC container pduTriggering; SE pdu payload. -->
  <xsl:template name="pdu">
    <xsl:param name="path"/>
    <xsl:param name="name"/>
    <xsl:param name="description"/>
    <xsl:variable name="kind" select="local-name()"/>
    <xsl:variable name="props" select="*[local-name() = 'CONTAINED-I-PDU-PROPS']"/>
    <xsl:value-of select="concat('PDU', $T, $path, $T, $kind, $T, $name, $T, normalize-space(*[local-name() = 'LENGTH']), $T,
      $description, $T, normalize-space($props/*[local-name() = 'HEADER-ID-SHORT-HEADER']), $T,
      normalize-space($props/*[local-name() = 'HEADER-ID-LONG-HEADER']), $N)"/>
    <xsl:for-each select="*[local-name() = 'I-SIGNAL-TO-PDU-MAPPINGS' or local-name() = 'SIGNAL-TO-PDU-MAPPINGS']/*">
      <xsl:variable name="signal" select="*[local-name() = 'I-SIGNAL-REF' or local-name() = 'SIGNAL-REF']"/>
      <xsl:variable name="group" select="*[local-name() = 'I-SIGNAL-GROUP-REF' or local-name() = 'SIGNAL-GROUP-REF']"/>
      <xsl:value-of select="concat('SM', $T, $path, $T, normalize-space(*[local-name() = 'SHORT-NAME']), $T,
        normalize-space($signal), '|', $signal/@BASE, $T, normalize-space($group), '|', $group/@BASE, $T,
        normalize-space(*[local-name() = 'PACKING-BYTE-ORDER']), $T, normalize-space(*[local-name() = 'START-POSITION']), $T,
        normalize-space(*[local-name() = 'UPDATE-INDICATION-BIT-POSITION']), $N)"/>
    </xsl:for-each>
    <!-- The PDU's timing block: a list of I-PDU-TIMING entries in AUTOSAR 4, whose
         transmission modes hold the timings; one element holding them itself in AUTOSAR 3. -->
    <xsl:variable name="timing" select="*[starts-with(local-name(), 'I-PDU-TIMING-')]"/>
    <xsl:if test="$timing">
      <xsl:variable name="true" select="$timing//*[local-name() = 'TRANSMISSION-MODE-TRUE-TIMING']
        | $timing[*[local-name() = 'CYCLIC-TIMING' or local-name() = 'EVENT-CONTROLLED-TIMING']]"/>
      <xsl:variable name="false" select="$timing//*[local-name() = 'TRANSMISSION-MODE-FALSE-TIMING']"/>
      <xsl:variable name="event" select="$true/*[local-name() = 'EVENT-CONTROLLED-TIMING']"/>
      <xsl:value-of select="concat('TM', $T, $path, $T,
        normalize-space($true/*[local-name() = 'CYCLIC-TIMING']/*[local-name() = 'TIME-PERIOD' or local-name() = 'REPEATING-TIME']/*[local-name() = 'VALUE']), $T,
        normalize-space($false/*[local-name() = 'CYCLIC-TIMING']/*[local-name() = 'TIME-PERIOD']/*[local-name() = 'VALUE']), $T,
        count($event), $T, normalize-space(($timing//*[local-name() = 'MINIMUM-DELAY'] | $timing/*[local-name() = 'MINIMUM-DELAY'])[1]), $T,
        normalize-space($event/*[local-name() = 'NUMBER-OF-REPETITIONS' or local-name() = 'NUMBER-OF-REPEATS']), $N)"/>
    </xsl:if>
    <xsl:if test="$kind = 'MULTIPLEXED-I-PDU'">
      <xsl:value-of select="concat('MX', $T, $path, $T, normalize-space(*[local-name() = 'SELECTOR-FIELD-START-POSITION']), $T,
        normalize-space(*[local-name() = 'SELECTOR-FIELD-LENGTH']), $T, normalize-space(*[local-name() = 'SELECTOR-FIELD-BYTE-ORDER']), $N)"/>
      <xsl:for-each select="(*[local-name() = 'STATIC-PARTS']/* | *[local-name() = 'STATIC-PART'])/*[local-name() = 'I-PDU-REF']">
        <xsl:value-of select="concat('MS', $T, $path, $T, normalize-space(.), '|', @BASE, $N)"/>
      </xsl:for-each>
      <xsl:for-each select="(*[local-name() = 'DYNAMIC-PARTS']/* | *[local-name() = 'DYNAMIC-PART'])/*[local-name() = 'DYNAMIC-PART-ALTERNATIVES']/*">
        <xsl:variable name="pdu" select="*[local-name() = 'I-PDU-REF']"/>
        <xsl:value-of select="concat('MD', $T, $path, $T, normalize-space($pdu), '|', $pdu/@BASE, $T,
          normalize-space(*[local-name() = 'SELECTOR-FIELD-CODE']), $N)"/>
      </xsl:for-each>
    </xsl:if>
    <xsl:if test="$kind = 'CONTAINER-I-PDU'">
      <xsl:value-of select="concat('CO', $T, $path, $T, normalize-space(*[local-name() = 'HEADER-TYPE']), $T,
        normalize-space(*[local-name() = 'CONTAINER-I-PDU-HEADER-BYTE-ORDER']), $N)"/>
      <xsl:for-each select="*[local-name() = 'CONTAINED-PDU-TRIGGERING-REFS']/*">
        <xsl:value-of select="concat('CC', $T, $path, $T, normalize-space(.), '|', @BASE, $N)"/>
      </xsl:for-each>
    </xsl:if>
    <xsl:if test="$kind = 'SECURED-I-PDU'">
      <xsl:variable name="payload" select="*[local-name() = 'PAYLOAD-REF']"/>
      <xsl:value-of select="concat('SE', $T, $path, $T, normalize-space($payload), '|', $payload/@BASE, $N)"/>
    </xsl:if>
  </xsl:template>
</xsl:stylesheet>
