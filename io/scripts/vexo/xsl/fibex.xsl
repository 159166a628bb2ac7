<?xml version="1.0" encoding="UTF-8"?>
<!-- FIBEX documents as records for vexo/fibex_import.lua: one line per element, fields
     separated by tabs (the records are listed there). Elements refer to each other by
     their ID attributes; the records carry the IDs and the ID-REFs as they are. Elements
     are matched by local name, so any FIBEX version and namespace prefix is read. Tabs
     and line ends inside texts become U+E000 to U+E002 (vexo/xml.lua turns them back). -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text" encoding="UTF-8"/>

  <xsl:variable name="T" select="'&#9;'"/>
  <xsl:variable name="N" select="'&#10;'"/>
  <xsl:variable name="controls" select="'&#9;&#10;&#13;'"/>
  <xsl:variable name="escapes" select="'&#xE000;&#xE001;&#xE002;'"/>

  <xsl:template match="/">
    <xsl:variable name="root" select="*"/>
    <xsl:if test="local-name($root) != 'FIBEX'">
      <xsl:message terminate="yes">no FIBEX document: the root element is <xsl:value-of select="name($root)"/>, not FIBEX</xsl:message>
    </xsl:if>
    <xsl:value-of select="concat('V', $T, normalize-space($root/@VERSION), $N)"/>
    <xsl:variable name="elements" select="$root/*[local-name() = 'ELEMENTS']"/>
    <xsl:for-each select="$elements/*">
      <xsl:variable name="group" select="local-name()"/>
      <xsl:choose>
        <xsl:when test="$group = 'CLUSTERS'"><xsl:for-each select="*"><xsl:call-template name="cluster"/></xsl:for-each></xsl:when>
        <xsl:when test="$group = 'CHANNELS'"><xsl:for-each select="*"><xsl:call-template name="channel"/></xsl:for-each></xsl:when>
        <xsl:when test="$group = 'FRAMES'"><xsl:for-each select="*"><xsl:call-template name="frame"/></xsl:for-each></xsl:when>
        <xsl:when test="$group = 'PDUS'"><xsl:for-each select="*"><xsl:call-template name="pdu"/></xsl:for-each></xsl:when>
        <xsl:when test="$group = 'SIGNALS'">
          <!-- SI id name coding desc -->
          <xsl:for-each select="*">
            <xsl:value-of select="concat('SI', $T, @ID, $T, normalize-space(*[local-name() = 'SHORT-NAME']), $T,
              *[local-name() = 'CODING-REF']/@ID-REF, $T, translate(*[local-name() = 'DESC'], $controls, $escapes), $N)"/>
          </xsl:for-each>
        </xsl:when>
        <xsl:when test="$group = 'ECUS'"><xsl:for-each select="*"><xsl:call-template name="ecu"/></xsl:for-each></xsl:when>
        <xsl:when test="$group = 'FUNCTIONS'">
          <!-- FN function direction signal: its ports by kind (OUTPUT-PORT, INPUT-PORT) -->
          <xsl:for-each select="*">
            <xsl:variable name="function" select="@ID"/>
            <xsl:for-each select="*/*[*[local-name() = 'SIGNAL-REF']]">
              <xsl:value-of select="concat('FN', $T, $function, $T, local-name(), $T, *[local-name() = 'SIGNAL-REF']/@ID-REF, $N)"/>
            </xsl:for-each>
          </xsl:for-each>
        </xsl:when>
        <xsl:when test="$group = 'PROCESSING-INFORMATION'"><xsl:call-template name="processing"/></xsl:when>
        <xsl:otherwise>
          <xsl:for-each select="*">
            <xsl:value-of select="concat('X', $T, local-name(), $T, @ID, $N)"/>
          </xsl:for-each>
        </xsl:otherwise>
      </xsl:choose>
    </xsl:for-each>
    <xsl:for-each select="$root/*[local-name() = 'PROCESSING-INFORMATION']">
      <xsl:call-template name="processing"/>
    </xsl:for-each>
  </xsl:template>

  <!-- CL id name protocol speed desc; CC cluster channel -->
  <xsl:template name="cluster">
    <xsl:variable name="protocol" select="*[local-name() = 'PROTOCOL']"/>
    <xsl:value-of select="concat('CL', $T, @ID, $T, normalize-space(*[local-name() = 'SHORT-NAME']), $T,
      normalize-space(concat($protocol, ' ', $protocol/@*[local-name() = 'type'])), $T,
      normalize-space(*[local-name() = 'SPEED']), $T, translate(*[local-name() = 'DESC'], $controls, $escapes), $N)"/>
    <xsl:for-each select="*[local-name() = 'CHANNEL-REFS']/*">
      <xsl:value-of select="concat('CC', $T, ../../@ID, $T, @ID-REF, $N)"/>
    </xsl:for-each>
  </xsl:template>

  <!-- CH id name desc; FT channel triggering frame identifier extended; FTS triggering slot
       baseCycle repetition (one per absolutely scheduled timing); FTC triggering kind
       period (cyclic or event-controlled timing) -->
  <xsl:template name="channel">
    <xsl:variable name="channel" select="@ID"/>
    <xsl:value-of select="concat('CH', $T, $channel, $T, normalize-space(*[local-name() = 'SHORT-NAME']), $T,
      translate(*[local-name() = 'DESC'], $controls, $escapes), $N)"/>
    <xsl:for-each select="*[local-name() = 'FRAME-TRIGGERINGS']/*">
      <xsl:variable name="value" select="*[local-name() = 'IDENTIFIER']/*[local-name() = 'IDENTIFIER-VALUE']"/>
      <xsl:value-of select="concat('FT', $T, $channel, $T, @ID, $T, *[local-name() = 'FRAME-REF']/@ID-REF, $T,
        normalize-space($value), $T, normalize-space(($value/@*[local-name() = 'EXTENDED-ADDRESSING'] | *[local-name() = 'IDENTIFIER']/@*[local-name() = 'EXTENDED-ADDRESSING'])[1]), $N)"/>
      <xsl:variable name="triggering" select="@ID"/>
      <xsl:for-each select="*[local-name() = 'TIMINGS']/*">
        <xsl:choose>
          <xsl:when test="local-name() = 'ABSOLUTELY-SCHEDULED-TIMING'">
            <xsl:value-of select="concat('FTS', $T, $triggering, $T, normalize-space(*[local-name() = 'SLOT-ID']), $T,
              normalize-space(*[local-name() = 'BASE-CYCLE']), $T, normalize-space(*[local-name() = 'CYCLE-REPETITION']), $N)"/>
          </xsl:when>
          <xsl:otherwise>
            <xsl:value-of select="concat('FTC', $T, $triggering, $T, local-name(), $T,
              normalize-space((.//*[local-name() = 'VALUE'])[1]), $N)"/>
          </xsl:otherwise>
        </xsl:choose>
      </xsl:for-each>
    </xsl:for-each>
  </xsl:template>

  <!-- FR id name length desc; FI frame pdu bitPosition highLow; FS frame signal bitPosition
       highLow instance (signal instances straight in the frame, FIBEX 2) -->
  <xsl:template name="frame">
    <xsl:variable name="frame" select="@ID"/>
    <xsl:value-of select="concat('FR', $T, $frame, $T, normalize-space(*[local-name() = 'SHORT-NAME']), $T,
      normalize-space(*[local-name() = 'BYTE-LENGTH']), $T, translate(*[local-name() = 'DESC'], $controls, $escapes), $N)"/>
    <xsl:for-each select="*[local-name() = 'PDU-INSTANCES']/*">
      <xsl:value-of select="concat('FI', $T, $frame, $T, *[local-name() = 'PDU-REF']/@ID-REF, $T,
        normalize-space(*[local-name() = 'BIT-POSITION']), $T, normalize-space(*[local-name() = 'IS-HIGH-LOW-BYTE-ORDER']), $N)"/>
    </xsl:for-each>
    <xsl:for-each select="*[local-name() = 'SIGNAL-INSTANCES']/*">
      <xsl:value-of select="concat('FS', $T, $frame, $T, *[local-name() = 'SIGNAL-REF']/@ID-REF, $T,
        normalize-space(*[local-name() = 'BIT-POSITION']), $T, normalize-space(*[local-name() = 'IS-HIGH-LOW-BYTE-ORDER']), $T,
        @ID, $N)"/>
    </xsl:for-each>
  </xsl:template>

  <!-- PD id name length desc type; PS pdu signal bitPosition highLow instance updateBit;
       PX pdu switchBitPosition switchLength highLow; PXS pdu staticPdu segmentBitPosition
       segmentLength highLow; PXD pdu switchedPdu code segmentBitPosition segmentLength
       highLow -->
  <xsl:template name="pdu">
    <xsl:variable name="pdu" select="@ID"/>
    <xsl:value-of select="concat('PD', $T, $pdu, $T, normalize-space(*[local-name() = 'SHORT-NAME']), $T,
      normalize-space(*[local-name() = 'BYTE-LENGTH']), $T, translate(*[local-name() = 'DESC'], $controls, $escapes), $T,
      normalize-space(*[local-name() = 'PDU-TYPE']), $N)"/>
    <xsl:for-each select="*[local-name() = 'SIGNAL-INSTANCES']/*">
      <xsl:value-of select="concat('PS', $T, $pdu, $T, *[local-name() = 'SIGNAL-REF']/@ID-REF, $T,
        normalize-space(*[local-name() = 'BIT-POSITION']), $T, normalize-space(*[local-name() = 'IS-HIGH-LOW-BYTE-ORDER']), $T,
        @ID, $T, normalize-space(*[local-name() = 'SIGNAL-UPDATE-BIT-POSITION']), $N)"/>
    </xsl:for-each>
    <xsl:for-each select="*[local-name() = 'MULTIPLEXER']">
      <xsl:variable name="switch" select="*[local-name() = 'SWITCH']"/>
      <xsl:value-of select="concat('PX', $T, $pdu, $T, normalize-space($switch/*[local-name() = 'BIT-POSITION']), $T,
        normalize-space($switch/*[local-name() = 'BIT-LENGTH']), $T, normalize-space($switch/*[local-name() = 'IS-HIGH-LOW-BYTE-ORDER']), $N)"/>
      <xsl:for-each select="*[local-name() = 'STATIC-PART']">
        <xsl:variable name="segment" select="*[local-name() = 'SEGMENT-POSITIONS']/*[1]"/>
        <xsl:for-each select="*[local-name() = 'STATIC-PDU-INSTANCES']/*">
          <xsl:value-of select="concat('PXS', $T, $pdu, $T, *[local-name() = 'PDU-REF']/@ID-REF, $T,
            normalize-space($segment/*[local-name() = 'BIT-POSITION']), $T, normalize-space($segment/*[local-name() = 'BIT-LENGTH']), $T,
            normalize-space($segment/*[local-name() = 'IS-HIGH-LOW-BYTE-ORDER']), $N)"/>
        </xsl:for-each>
      </xsl:for-each>
      <xsl:for-each select="*[local-name() = 'DYNAMIC-PART']">
        <xsl:variable name="segment" select="*[local-name() = 'SEGMENT-POSITIONS']/*[1]"/>
        <xsl:for-each select="*[local-name() = 'SWITCHED-PDU-INSTANCES']/*">
          <xsl:value-of select="concat('PXD', $T, $pdu, $T, *[local-name() = 'PDU-REF']/@ID-REF, $T,
            normalize-space(*[local-name() = 'SWITCH-CODE']), $T, normalize-space($segment/*[local-name() = 'BIT-POSITION']), $T,
            normalize-space($segment/*[local-name() = 'BIT-LENGTH']), $T,
            normalize-space($segment/*[local-name() = 'IS-HIGH-LOW-BYTE-ORDER']), $N)"/>
        </xsl:for-each>
      </xsl:for-each>
    </xsl:for-each>
  </xsl:template>

  <!-- EC id name desc; EP ecu portKind frameTriggering; EF ecu function -->
  <xsl:template name="ecu">
    <xsl:variable name="ecu" select="@ID"/>
    <xsl:value-of select="concat('EC', $T, $ecu, $T, normalize-space(*[local-name() = 'SHORT-NAME']), $T,
      translate(*[local-name() = 'DESC'], $controls, $escapes), $N)"/>
    <xsl:for-each select="*[local-name() = 'CONNECTORS']/*/*[local-name() = 'OUTPUTS' or local-name() = 'INPUTS']/*">
      <xsl:variable name="kind" select="local-name()"/>
      <xsl:for-each select="*[local-name() = 'FRAME-TRIGGERING-REF']">
        <xsl:value-of select="concat('EP', $T, $ecu, $T, $kind, $T, @ID-REF, $N)"/>
      </xsl:for-each>
    </xsl:for-each>
    <xsl:for-each select="*[local-name() = 'FUNCTION-REFS']/*">
      <xsl:value-of select="concat('EF', $T, $ecu, $T, @ID-REF, $N)"/>
    </xsl:for-each>
  </xsl:template>

  <!-- UN id name displayName; CD id name bitLength encoding baseDataType category desc;
       CM coding name category unit; CS coding lower lowerType upper upperType numerator
       denominator vt v vtCount (as in vexo/xsl/arxml.xsl); PC coding lower upper -->
  <xsl:template name="processing">
    <xsl:for-each select="*[local-name() = 'UNIT-SPEC']//*[local-name() = 'UNIT']">
      <xsl:value-of select="concat('UN', $T, @ID, $T, normalize-space(*[local-name() = 'SHORT-NAME']), $T,
        translate(*[local-name() = 'DISPLAY-NAME'], $controls, $escapes), $N)"/>
    </xsl:for-each>
    <xsl:for-each select="*[local-name() = 'CODINGS']/*">
      <xsl:variable name="coding" select="@ID"/>
      <xsl:variable name="type" select="*[local-name() = 'CODED-TYPE']"/>
      <xsl:value-of select="concat('CD', $T, $coding, $T, normalize-space(*[local-name() = 'SHORT-NAME']), $T,
        normalize-space($type/*[local-name() = 'BIT-LENGTH']), $T, normalize-space($type/@*[local-name() = 'ENCODING']), $T,
        normalize-space($type/@*[local-name() = 'BASE-DATA-TYPE']), $T, normalize-space($type/@*[local-name() = 'CATEGORY']), $T,
        translate(*[local-name() = 'DESC'], $controls, $escapes), $N)"/>
      <xsl:variable name="constraint" select="$type/*[local-name() = 'PHYS-CONSTRS' or local-name() = 'INTERNAL-CONSTRS'] | *[local-name() = 'PHYS-CONSTRS']"/>
      <xsl:if test="$constraint">
        <xsl:value-of select="concat('PC', $T, $coding, $T, normalize-space(($constraint//*[local-name() = 'LOWER-LIMIT'])[1]), $T,
          normalize-space(($constraint//*[local-name() = 'UPPER-LIMIT'])[1]), $T, local-name($constraint[1]), $N)"/>
      </xsl:if>
      <xsl:for-each select="*[local-name() = 'COMPU-METHODS']/*">
        <xsl:value-of select="concat('CM', $T, $coding, $T, normalize-space(*[local-name() = 'SHORT-NAME']), $T,
          normalize-space(*[local-name() = 'CATEGORY']), $T, *[local-name() = 'UNIT-REF']/@ID-REF, $N)"/>
        <xsl:for-each select="*[local-name() = 'COMPU-INTERNAL-TO-PHYS']/*[local-name() = 'COMPU-SCALES']/*">
          <xsl:variable name="coefficients" select="*[local-name() = 'COMPU-RATIONAL-COEFFS']"/>
          <xsl:variable name="lower" select="*[local-name() = 'LOWER-LIMIT']"/>
          <xsl:variable name="upper" select="*[local-name() = 'UPPER-LIMIT']"/>
          <xsl:variable name="const" select="*[local-name() = 'COMPU-CONST']"/>
          <xsl:value-of select="concat('CS', $T, $coding, $T, normalize-space($lower), $T, normalize-space($lower/@INTERVAL-TYPE), $T,
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
      </xsl:for-each>
    </xsl:for-each>
  </xsl:template>
</xsl:stylesheet>
